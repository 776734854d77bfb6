C     Reads one deck from standard input through the f2c run-time
C     library, with the reads of peakpos in the same order, and prints
C     what was read in the form of record_text (see libf2c_dump.c).
C
C     Integer items are read as DOUBLE PRECISION and truncated toward
C     zero by the dump: the Debian build of the library refuses integers
C     written in real form, which a library built to take them stores as
C     the double truncated toward zero.
      PROGRAM RDECK
      CHARACTER*25 DNAM
      REAL R(10)
      DOUBLE PRECISION DN, H(5000), K(5000), L(5000), E(5000)
      INTEGER NPEAK, I
      DNAM = ' '
      DN = 0
      NPEAK = 0
      DO 1 I = 1, 10
         R(I) = 0
    1 CONTINUE
      DO 2 I = 1, 5000
         H(I) = 0
         K(I) = 0
         L(I) = 0
         E(I) = 0
    2 CONTINUE
      READ (5, 100) DNAM
  100 FORMAT (A)
      READ (5, *) R(1), R(2), R(3), R(4), R(5), R(6), R(7)
      READ (5, *) R(8), R(9), R(10)
      READ (5, *) DN
      CALL NPCHK(DN, NPEAK)
      READ (5, *) (H(I), I = 1, NPEAK)
      READ (5, *) (K(I), I = 1, NPEAK)
      READ (5, *) (L(I), I = 1, NPEAK)
      CALL MARK
      READ (5, *, END = 10) (E(I), I = 1, NPEAK)
   10 CALL DUMP(DNAM, R, NPEAK, H, K, L, E)
      END
