#ifndef TARVIX_SCALAPACK_H
#define TARVIX_SCALAPACK_H

// The BLACS and ScaLAPACK entry points tarvix-mpi calls. The libraries are
// Fortran-callable and ship no C header: every argument goes by address,
// matrices are column-major, indices start at 1. The hidden lengths of the
// one-letter character arguments are never read by these routines.
extern "C" {
void Cblacs_pinfo(int *rank, int *processes);
void Cblacs_get(int context, int what, int *value);
void Cblacs_gridinit(int *context, const char *order, int rows, int columns);
void Cblacs_gridinfo(int context, int *rows, int *columns, int *myRow, int *myColumn);
void Cblacs_gridexit(int context);
void Cblacs_exit(int keepMpi);

int numroc_(const int *n, const int *nb, const int *iproc, const int *isrcproc, const int *nprocs);
void descinit_(int *desc, const int *m, const int *n, const int *mb, const int *nb,
               const int *irsrc, const int *icsrc, const int *ictxt, const int *lld, int *info);
void pdgesv_(const int *n, const int *nrhs, double *a, const int *ia, const int *ja,
             const int *desca, int *ipiv, double *b, const int *ib, const int *jb,
             const int *descb, int *info);
void pdgetrs_(const char *trans, const int *n, const int *nrhs, const double *a, const int *ia,
              const int *ja, const int *desca, const int *ipiv, double *b, const int *ib,
              const int *jb, const int *descb, int *info);
void pdgemv_(const char *trans, const int *m, const int *n, const double *alpha, const double *a,
             const int *ia, const int *ja, const int *desca, const double *x, const int *ix,
             const int *jx, const int *descx, const int *incx, const double *beta, double *y,
             const int *iy, const int *jy, const int *descy, const int *incy);
double pdlange_(const char *norm, const int *m, const int *n, const double *a, const int *ia,
                const int *ja, const int *desca, double *work);

// OpenBLAS, when it is the BLAS underneath: one thread per process.
void openblas_set_num_threads(int threads) __attribute__((weak));
}

#endif
