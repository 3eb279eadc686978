# A receipt on the IT433TD from Python: python3 receipt.py [PORT]
import sys

from it433td import Printer, PrinterError

port = sys.argv[1] if len(sys.argv) > 1 else "COM1"
try:
    with Printer(port, dados_dir="dados") as printer:
        printer.text("PADARIA PÃO DOURADO\n"
                     "Pão de açúcar         1 x 4,50\n"
                     "Café com leite        1 x 6,00\n"
                     "Total               R$ 10,50\n")
        printer.code128("PEDIDO-0042")
        printer.qr("https://nfce.exemplo.com.br/consulta?p=42")
        printer.cut()
        print("printer status:", printer.status())
except PrinterError as error:
    sys.exit("printing failed: %s" % error)  # error.status, error.name: the status
