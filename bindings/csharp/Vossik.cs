// Vossik.cs - the IT433TD receipt printer's driver module from C#.
//
// Native: the module's plain exports as they are (P/Invoke), and the device
// library's status request. Printer: a small IDisposable wrapper that opens
// the port, converts text to code page 850 and turns non-zero statuses into
// VossikException.
//
// Windows: Pkg_Vossik.dll, MEGENCOM32.dll and P32GeCodeBar.dll side by side
// with the program. The vendor libraries are 32-bit, so build the program
// for x86 (csc -platform:x86, or <PlatformTarget>x86</PlatformTarget>).
// Linux (Mono): "Pkg_Vossik" is found as libPkg_Vossik.so through the
// loader's search (LD_LIBRARY_PATH, ldconfig) or a <dllmap> in the
// program's .config file.
// .NET (Core) on either: call
// Encoding.RegisterProvider(CodePagesEncodingProvider.Instance) once before
// the first Printer.ToCP850 (Mono and the .NET Framework have code page 850
// built in).
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Vossik
{
    // The plain exports. CallingConvention.Winapi is stdcall on Windows and
    // the C convention elsewhere, exactly as the module exports them.
    // StartIT433TD answers one byte (1 true, 0 false), hence I1.
    public static class Native
    {
        public const string Module = "Pkg_Vossik";
        public const string Device = "MEGENCOM32";

        [DllImport(Module, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.I1)]
        public static extern bool StartIT433TD();

        [DllImport(Module, CallingConvention = CallingConvention.Winapi, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int IniciaPorta_IT433TD(string port);

        [DllImport(Module, CallingConvention = CallingConvention.Winapi, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int FechaPorta_IT433TD(string port);

        // text: code page 850 bytes (see Printer.ToCP850); length: their count.
        [DllImport(Module, CallingConvention = CallingConvention.Winapi, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int FormataTX_IT433TD(string port, byte[] text, int length);

        [DllImport(Module, CallingConvention = CallingConvention.Winapi, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int ImprimeCODE128_IT433TD(string port, byte[] data, int length);

        [DllImport(Module, CallingConvention = CallingConvention.Winapi, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int AcionaGuilhotina_IT433TD(string port);

        [DllImport(Module, CallingConvention = CallingConvention.Winapi, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int ImprimeQRCode_IT433TD(string port, byte[] data, int length);

        // The device library's status request (the module binds it but never
        // calls it). Call it after StartIT433TD and IniciaPorta_IT433TD: the
        // device library the module loaded is the one that knows the port.
        // 0 online, 11 paper out, 12 offline, 13 no answer.
        [DllImport(Device, CallingConvention = CallingConvention.Winapi, ExactSpelling = true,
                   CharSet = CharSet.Ansi, BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int MEGENCOM32_StatusDoDispositivo(string port, out int statusByte);
    }

    public enum PrinterStatus { Online, PaperOut, Offline }

    // Golden receipts by name, under `it433td emulate ... --expect DIR --
    // COMMAND`: after Run.Label("till_total") the receipts printed are
    // DIR/till_total.txt, till_total-2.txt, ... until the next label.
    // Through the run's control socket (a Unix socket named by
    // IT433TD_RUN_SOCKET: Mono and .NET on Linux; .NET on Windows 10 1803
    // and later); not a call of the module.
    public static class Run
    {
        public const string SocketVariable = "IT433TD_RUN_SOCKET";

        public static bool Inside
        {
            get { return !string.IsNullOrEmpty(Environment.GetEnvironmentVariable(SocketVariable)); }
        }

        // Returns once the run has read what was printed before; throws
        // InvalidOperationException outside a run, for a name the run
        // refuses, or when the run does not answer within the timeout.
        public static void Label(string name, int timeoutMilliseconds = 120000)
        {
            string path = Environment.GetEnvironmentVariable(SocketVariable);
            if (string.IsNullOrEmpty(path))
                throw new InvalidOperationException(
                    "not inside a run of `it433td emulate ... -- COMMAND` (" + SocketVariable + " is not set)");
            if (name.IndexOf('\n') >= 0)
                throw new ArgumentException("a label cannot hold a line feed");
            string answer;
            try
            {
                using (var socket = new System.Net.Sockets.Socket(System.Net.Sockets.AddressFamily.Unix,
                           System.Net.Sockets.SocketType.Stream, System.Net.Sockets.ProtocolType.Unspecified))
                {
                    socket.SendTimeout = socket.ReceiveTimeout = timeoutMilliseconds;
                    socket.Connect(new System.Net.Sockets.UnixDomainSocketEndPoint(path));
                    socket.Send(Encoding.UTF8.GetBytes("label " + name + "\n"));
                    var received = new System.IO.MemoryStream();
                    var buffer = new byte[1024];
                    int got;
                    while (received.Length <= 1024 && (got = socket.Receive(buffer)) > 0)
                    {
                        received.Write(buffer, 0, got);
                        if (buffer[got - 1] == (byte)'\n') break;
                    }
                    answer = Encoding.UTF8.GetString(received.ToArray()).TrimEnd('\n');
                }
            }
            catch (System.Net.Sockets.SocketException e)
            {
                throw new InvalidOperationException(
                    "the run's control socket " + path + " does not answer (" + e.Message + "); has the run ended?", e);
            }
            if (answer != "ok")
                throw new InvalidOperationException("label \"" + name + "\": " +
                    (answer.StartsWith("error ") ? answer.Substring(6) : "unexpected answer " + answer));
        }
    }

    // A non-zero status: the module's own (negative) or a vendor library's.
    public class VossikException : Exception
    {
        public string Operation { get; private set; }
        public int Status { get; private set; }
        public string StatusName { get; private set; }

        public VossikException(string operation, int status)
            : base(string.Format("{0} failed: {1} ({2})", operation, NameOf(status), status))
        {
            Operation = operation;
            Status = status;
            StatusName = NameOf(status);
        }

        // The names of Cli_Vossik.h and MEGENCOM32.h (the test
        // bindings.status_lists holds this list to them).
        public static string NameOf(int status)
        {
            switch (status)
            {
                case 0: return "OK";
                case -1001: return "IT433TD_BAD_ARGUMENT";
                case -1002: return "IT433TD_NOT_BOUND";
                case -1003: return "IT433TD_STALLED";
                case -1004: return "IT433TD_NOT_RENDERED";
                case -1005: return "IT433TD_INTERNAL_ERROR";
                case -1006: return "IT433TD_QR_BUSY";
                case -1007: return "IT433TD_COPY_FAILED";
                case 1: return "MEGENCOM32_NO_SUCH_PORT";
                case 2: return "MEGENCOM32_BUSY";
                case 3: return "MEGENCOM32_ALREADY_OPEN";
                case 4: return "MEGENCOM32_NOT_OPEN";
                case 5: return "MEGENCOM32_BAD_SETTINGS";
                case 6: return "MEGENCOM32_BAD_ARGUMENT";
                case 7: return "MEGENCOM32_IO_ERROR";
                case 8: return "MEGENCOM32_TIMEOUT";
                case 9: return "MEGENCOM32_HANGUP";
                case 10: return "MEGENCOM32_UNPLUGGED";
                case 11: return "MEGENCOM32_PAPER_OUT";
                case 12: return "MEGENCOM32_OFFLINE";
                case 13: return "MEGENCOM32_NO_ANSWER";
                case 14: return "MEGENCOM32_LOG_FAILED";
                default: return "status " + status;
            }
        }
    }

    // The printer on one port: opened by the constructor, closed by Dispose.
    // Each Text call pauses 500 ms, each QrCode 3 s: send a receipt's lines
    // in one Text call.
    public sealed class Printer : IDisposable
    {
        private static readonly Encoding cp850 = Encoding.GetEncoding(
            850, EncoderFallback.ExceptionFallback, DecoderFallback.ExceptionFallback);
        private static readonly Encoding ascii = Encoding.GetEncoding(
            "us-ascii", EncoderFallback.ExceptionFallback, DecoderFallback.ExceptionFallback);

        private readonly string port;
        private bool open;

        public Printer(string port)
        {
            this.port = port;
            if (!Native.StartIT433TD())
                throw new VossikException("StartIT433TD (the vendor libraries could not be bound)", -1002);
            Check("IniciaPorta_IT433TD", Native.IniciaPorta_IT433TD(port));
            open = true;
        }

        // Where QR codes are rendered instead of the Dados folder beside the
        // executable (for Mono, beside mono itself). Created if missing; read
        // by the module at every QR code.
        public static void SetDadosDir(string folder)
        {
            string full = System.IO.Path.GetFullPath(folder);
            System.IO.Directory.CreateDirectory(full);
            Environment.SetEnvironmentVariable("IT433TD_DADOS_DIR", full);
        }

        // Text as the printer's code page 850 bytes. Throws ArgumentException
        // naming a character the printer lacks, or a control character other
        // than the line feed (it would reach the printer as a command; C1
        // controls are named by number, never repeated raw).
        public static byte[] ToCP850(string text)
        {
            for (int i = 0; i < text.Length; i++)
                if ((text[i] < ' ' && text[i] != '\n') || (text[i] >= '\x7f' && text[i] <= '\x9f'))
                    throw new ArgumentException(string.Format(
                        "character U+{0:X4} at index {1} is a control character", (int)text[i], i));
            try
            {
                return cp850.GetBytes(text);
            }
            catch (EncoderFallbackException e)
            {
                throw new ArgumentException(string.Format(
                    "\"{0}\" at index {1} is not in code page 850, the printer's character table",
                    e.CharUnknown, e.Index), e);
            }
        }

        public void Text(string text) { Text(ToCP850(text)); }

        public void Text(byte[] cp850Bytes)
        {
            Check("FormataTX_IT433TD", Native.FormataTX_IT433TD(port, cp850Bytes, cp850Bytes.Length));
        }

        public void Code128(string data)
        {
            byte[] bytes = ascii.GetBytes(data);  // CODE128 carries ASCII only
            Check("ImprimeCODE128_IT433TD", Native.ImprimeCODE128_IT433TD(port, bytes, bytes.Length));
        }

        public void QrCode(string data)
        {
            byte[] bytes = Encoding.UTF8.GetBytes(data);
            Check("ImprimeQRCode_IT433TD", Native.ImprimeQRCode_IT433TD(port, bytes, bytes.Length));
        }

        public void Cut()
        {
            Check("AcionaGuilhotina_IT433TD", Native.AcionaGuilhotina_IT433TD(port));
        }

        public PrinterStatus Status()
        {
            int answer;
            int status = Native.MEGENCOM32_StatusDoDispositivo(port, out answer);
            switch (status)
            {
                case 0: return PrinterStatus.Online;
                case 11: return PrinterStatus.PaperOut;
                case 12: return PrinterStatus.Offline;
                default: throw new VossikException("MEGENCOM32_StatusDoDispositivo", status);
            }
        }

        public void Dispose()
        {
            if (!open) return;
            open = false;
            Check("FechaPorta_IT433TD", Native.FechaPorta_IT433TD(port));
        }

        private static void Check(string operation, int status)
        {
            if (status != 0) throw new VossikException(operation, status);
        }
    }
}
