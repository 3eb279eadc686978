// The vendor entry table: two library handles and fourteen entry-point
// slots, exported field by field, and the binding that fills them.
#include "Cli_Vossik.h"
#include "operations.h"
#include "platform.h"

namespace Cli_Vossik {

it433td_library_handle DLLMEGENCOM32 = nullptr;
it433td_library_handle DLLP32GeCodeBar = nullptr;

#define IT433TD_DEFINE_SLOT(name, type) type name = nullptr;
IT433TD_DEVICE_ENTRIES(IT433TD_DEFINE_SLOT)
IT433TD_BARCODE_ENTRIES(IT433TD_DEFINE_SLOT)
#undef IT433TD_DEFINE_SLOT

void *rdmIT433TD = nullptr;

}  // namespace Cli_Vossik

namespace it433td::driver {
namespace {

// Looks `name` up in `library` into `slot`; true when found.
template <typename Entry>
bool bind_entry(it433td_library_handle library, const char *name, Entry &slot) {
  slot = reinterpret_cast<Entry>(platform().findEntry(library, name));
  return slot != nullptr;
}

// Loads a library unless its handle is already set; handles are cached for
// the life of the process, so a retry loads only what is still missing.
bool ensureLoaded(it433td_library_handle &handle, const char *fileName) {
  if (!handle) handle = static_cast<it433td_library_handle>(platform().loadLibrary(fileName));
  return handle != nullptr;
}

}  // namespace

void stop() {
#define IT433TD_CLEAR_SLOT(name, type) Cli_Vossik::name = nullptr;
  IT433TD_DEVICE_ENTRIES(IT433TD_CLEAR_SLOT)
  IT433TD_BARCODE_ENTRIES(IT433TD_CLEAR_SLOT)
#undef IT433TD_CLEAR_SLOT
}

// The order matters and is observable through the exported slots: a device
// library that will not load changes nothing; a barcode library that will
// not load leaves the device slots bound; a missing entry point empties all.
bool start() {
#define IT433TD_BIND_SLOT(library, name)                      \
  if (!bind_entry(Cli_Vossik::library, #name, Cli_Vossik::name)) { \
    stop();                                                    \
    return false;                                              \
  }
#define IT433TD_BIND_DEVICE(name, type) IT433TD_BIND_SLOT(DLLMEGENCOM32, name)
#define IT433TD_BIND_BARCODE(name, type) IT433TD_BIND_SLOT(DLLP32GeCodeBar, name)

  if (!ensureLoaded(Cli_Vossik::DLLMEGENCOM32, IT433TD_DEVICE_LIBRARY)) return false;
  IT433TD_DEVICE_ENTRIES(IT433TD_BIND_DEVICE)
  if (!ensureLoaded(Cli_Vossik::DLLP32GeCodeBar, IT433TD_BARCODE_LIBRARY)) return false;
  IT433TD_BARCODE_ENTRIES(IT433TD_BIND_BARCODE)
  return true;

#undef IT433TD_BIND_BARCODE
#undef IT433TD_BIND_DEVICE
#undef IT433TD_BIND_SLOT
}

}  // namespace it433td::driver
