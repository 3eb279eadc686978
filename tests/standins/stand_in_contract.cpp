// The stand-ins' exported signatures against the vendor contract the driver
// binds them by (contract/vendor_contract.h), for both libraries. Checked when
// this file compiles, in every build: on i686 Windows a function that is not
// __stdcall, or takes other arguments, would unbalance the caller's stack.
#include <type_traits>

#include "MEGENCOM32.h"
#include "P32GeCodeBar.h"
#include "vendor_contract.h"

// Every entry point of the contract's lists is declared by its stand-in;
// those the driver calls have exactly the contract's pointer type (the others
// the driver only passes on to the host, as a generic pointer).
#define IT433TD_CHECK_ENTRY(name, type)                                                  \
  static_assert(std::is_same_v<type, IT433TD_GenericEntry> ||                            \
                    std::is_same_v<decltype(&name), type>,                               \
                #name " does not have the contract's type " #type);                      \
  static_assert(std::is_function_v<std::remove_pointer_t<decltype(&name)>>,              \
                #name " is not a function");
IT433TD_DEVICE_ENTRIES(IT433TD_CHECK_ENTRY)
IT433TD_BARCODE_ENTRIES(IT433TD_CHECK_ENTRY)
#undef IT433TD_CHECK_ENTRY
