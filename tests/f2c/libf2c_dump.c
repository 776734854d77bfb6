/* The printing side of libf2c_reader.f: prints the record that the f2c
 * run-time library read, in the same text as record_text() of the peakpos
 * side, so that the two can be compared byte for byte.
 *
 * Where peakpos refuses a deck that the library reads (more than 5000
 * reflections, an integer item outside the 32-bit range), the line printed
 * starts with "refused" and names the rule. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* After the system headers: it defines abs, min and max as macros. */
#include "f2c.h"

#define MAXPEAK 5000

/* The integer that a library built to take real-form integers stores:
 * (integer) of the double, truncation toward zero. Outside the 32-bit
 * range that conversion has no defined result. */
static int to_integer(double v, integer* out) {
    double t = trunc(v);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) return 0;
    *out = (integer)t;
    return 1;
}

static void refuse(const char* why) {
    printf("refused %s\n", why);
    fflush(stdout);
    exit(0);
}

/* Called after the read of npeak, before the reads that use it. */
int npchk_(doublereal* dn, integer* npeak) {
    if (!to_integer(*dn, npeak)) refuse("npeak outside the 32-bit range");
    if (*npeak > MAXPEAK) refuse("npeak above 5000");
    return 0;
}

/* Called before the read of the flags: tells the test that R7 was read
 * completely. */
int mark_(void) {
    printf("r8\n");
    fflush(stdout);
    return 0;
}

static void list(const char* name, const doublereal* v, integer n, char* buf) {
    char* p = buf + sprintf(buf, "%s", name);
    for (integer i = 0; i < n; ++i) {
        integer x;
        if (!to_integer(v[i], &x)) refuse("integer item outside the 32-bit range");
        p += sprintf(p, " %d", (int)x);
    }
    strcpy(p, "\n");
}

int dump_(char* dnam, real* r, integer* npeak, doublereal* h, doublereal* k, doublereal* l,
          doublereal* e, ftnlen dnam_len) {
    static char lines[4][MAXPEAK * 12 + 16];
    integer n = *npeak > 0 ? *npeak : 0;
    list("h", h, n, lines[0]);
    list("k", k, n, lines[1]);
    list("l", l, n, lines[2]);
    list("extinct", e, n, lines[3]);
    printf("dnam ");
    for (ftnlen i = 0; i < dnam_len; ++i) printf("%02x", (unsigned char)dnam[i]);
    printf("\nreals");
    for (int i = 0; i < 10; ++i) {
        unsigned int bits;
        memcpy(&bits, &r[i], sizeof bits);
        printf(" %08x", bits);
    }
    printf("\nnpeak %d\n%s%s%s%s", (int)*npeak, lines[0], lines[1], lines[2], lines[3]);
    fflush(stdout);
    return 0;
}
