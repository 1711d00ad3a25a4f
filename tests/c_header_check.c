/* The public header is plain C: this file only has to compile. */
#include "tarvex/tarvex.h"

int tarvex_c_header_check(void) {
  int count = 0;
  double* data = NULL;
  (void)sizeof(&getGameData);
  (void)data;
  return count + TARVEX_VERSION;
}
