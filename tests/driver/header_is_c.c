/* The public header compiles as plain C: the boundary really is C. */
#include "Cli_Vossik.h"

typedef bool (*StartFn)(void);
typedef int32_t (*PrintFn)(const char *, const char *, int32_t);

StartFn headerIsCStart = StartIT433TD;
PrintFn headerIsCPrint = FormataTX_IT433TD;
