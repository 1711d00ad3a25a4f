/* A host built against an installed tarvex: the header it compiled with and
 * the library it runs with agree. */
#include <stdio.h>
#include <tarvex/tarvex.h>

int main(void) {
  const int version = getTarvexVersion();
  printf("tarvex %d, %d channel names\n", version, getGameDataCount());
  return version == TARVEX_VERSION && getGameDataCount() == 44 ? 0 : 1;
}
