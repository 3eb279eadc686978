// A receipt on the IT433TD from C#: mono receipt.exe [PORT]
using System;
using Vossik;

static class Receipt
{
    static int Main(string[] args)
    {
        string port = args.Length > 0 ? args[0] : "COM1";
        Printer.SetDadosDir("dados");
        try
        {
            using (var printer = new Printer(port))
            {
                printer.Text("PADARIA PÃO DOURADO\n" +
                             "Pão de açúcar         1 x 4,50\n" +
                             "Café com leite        1 x 6,00\n" +
                             "Total               R$ 10,50\n");
                printer.Code128("PEDIDO-0042");
                printer.QrCode("https://nfce.exemplo.com.br/consulta?p=42");
                printer.Cut();
                Console.WriteLine("printer status: " + printer.Status());
            }
            return 0;
        }
        catch (VossikException e)
        {
            Console.Error.WriteLine("printing failed: " + e.Message);
            return 1;
        }
    }
}
