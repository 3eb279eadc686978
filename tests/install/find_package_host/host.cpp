// Linked against the installed module: binds the stand-ins, prints one
// line of condensed text on the port given (a regular file) with the
// qualified names, and finds the device library's status request in the
// module's exported slot. Exits 0 when all of it worked.
#include <Cli_Vossik.h>

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  const char *port = argv[1];
  if (!StartIT433TD()) return std::fprintf(stderr, "StartIT433TD answered false\n"), 1;
  if (!Cli_Vossik::MEGENCOM32_StatusDoDispositivo || !Cli_Vossik::DLLMEGENCOM32)
    return std::fprintf(stderr, "the exported slots are empty after StartIT433TD\n"), 1;
  int32_t status = Cli_Vossik::IniciaPorta_IT433TD(port);
  if (status == 0) status = Cli_Vossik::FormataTX_IT433TD(port, "Ol\xA0 C++\n");
  if (status == 0) status = FechaPorta_IT433TD(port);
  if (status != 0) return std::fprintf(stderr, "status %d\n", static_cast<int>(status)), 1;
  return 0;
}
