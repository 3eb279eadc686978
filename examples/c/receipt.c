/* A receipt on the IT433TD from C: ./receipt [PORT]
 * cc receipt.c -o receipt $(pkg-config --cflags --libs it433td) -ldl \
 *    -Wl,-rpath,$(pkg-config --variable=libdir it433td)
 * QR codes are rendered in a Dados folder beside the program: mkdir Dados */
#include <Cli_Vossik.h>

#include <dlfcn.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>

/* UTF-8 text as the printer's code page 850 bytes; -1 when a character is
 * not in code page 850 (iconv refuses it: no "//TRANSLIT"). */
static int32_t to_cp850(const char *utf8, char *out, size_t capacity) {
  iconv_t cd = iconv_open("CP850", "UTF-8");
  if (cd == (iconv_t)-1) return -1;
  char *in = (char *)utf8, *next = out;
  size_t in_left = strlen(utf8), out_left = capacity;
  size_t converted = iconv(cd, &in, &in_left, &next, &out_left);
  iconv_close(cd);
  return converted == (size_t)-1 ? -1 : (int32_t)(next - out);
}

/* The device library's own status request. The module loaded the device
 * library in StartIT433TD; RTLD_NOLOAD finds that very copy, which knows
 * the ports the module opened. Answers 0 online, 11 paper out, 12 offline,
 * 13 no answer (MEGENCOM32.h). */
static int32_t printer_status(const char *port) {
  void *device = dlopen(IT433TD_DEVICE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
  if (!device) return -1;
  int32_t (*status_request)(const char *, int32_t *) =
      (int32_t(*)(const char *, int32_t *))dlsym(device, "MEGENCOM32_StatusDoDispositivo");
  int32_t answer = -1, status = status_request ? status_request(port, &answer) : -1;
  dlclose(device);
  return status;
}

static int failed(const char *operation, int32_t status) {
  const char *name = it433td_status_name(status);
  fprintf(stderr, "printing failed: %s: %s (%d)\n", operation, name ? name : "vendor status",
          (int)status);
  return 1;
}

int main(int argc, char **argv) {
  const char *port = argc > 1 ? argv[1] : "COM1";
  if (!StartIT433TD()) return failed("StartIT433TD", IT433TD_NOT_BOUND);
  int32_t status = IniciaPorta_IT433TD(port);
  if (status != 0) return failed("IniciaPorta_IT433TD", status);

  char text[512];
  int32_t length = to_cp850("PADARIA PÃO DOURADO\n"
                            "Pão de açúcar         1 x 4,50\n"
                            "Café com leite        1 x 6,00\n"
                            "Total               R$ 10,50\n",
                            text, sizeof text);
  const char order[] = "PEDIDO-0042";
  const char payment[] = "https://nfce.exemplo.com.br/consulta?p=42";
  if (length < 0) return failed("to_cp850", IT433TD_BAD_ARGUMENT);
  /* One call for all the lines: each call pauses 500 ms. */
  if ((status = FormataTX_IT433TD(port, text, length)) != 0)
    return failed("FormataTX_IT433TD", status);
  if ((status = ImprimeCODE128_IT433TD(port, order, (int32_t)strlen(order))) != 0)
    return failed("ImprimeCODE128_IT433TD", status);
  if ((status = ImprimeQRCode_IT433TD(port, payment, (int32_t)strlen(payment))) != 0)
    return failed("ImprimeQRCode_IT433TD", status);
  if ((status = AcionaGuilhotina_IT433TD(port)) != 0)
    return failed("AcionaGuilhotina_IT433TD", status);

  status = printer_status(port);
  printf("printer status: %s\n", status == 0 ? "online" : status == 11 ? "paper out"
                                : status == 12 ? "offline" : "no answer");
  FechaPorta_IT433TD(port);
  return 0;
}
