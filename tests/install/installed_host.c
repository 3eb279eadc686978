/* A C host: loads the module given on the command line and binds the vendor
 * libraries; exits 0 when StartIT433TD answers true. */
#include <dlfcn.h>
#include <stdbool.h>
#include <stdio.h>

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  void *module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  /* ISO C has no cast from dlsym's object pointer to a function pointer:
   * the pointer is stored through its address, as POSIX's dlsym page does. */
  bool (*start)(void);
  *(void **)&start = dlsym(module, "StartIT433TD");
  if (!start || !start()) {
    fprintf(stderr, "StartIT433TD did not bind both libraries\n");
    return 1;
  }
  return 0;
}
