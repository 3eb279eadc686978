/* Compiled as C: the public header must stay a C header. */
#include "MEGENCOM32.h"

int megencom32HeaderIsC(void) {
  int32_t written = 0;
  return MEGENCOM32_EscrevernoDispositivo("COM1", "", 0, &written) == MEGENCOM32_NOT_OPEN;
}
