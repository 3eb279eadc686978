/* The public header compiles as plain C: the boundary really is C. */
#include "Cli_Vossik.h"

typedef bool (*start_fn)(void);
typedef int32_t (*print_fn)(const char *, const char *, int32_t);

start_fn header_is_c_start = StartIT433TD;
print_fn header_is_c_print = FormataTX_IT433TD;
