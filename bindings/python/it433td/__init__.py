"""Print on the IT433TD receipt printer through its driver module.

    from it433td import Printer

    with Printer("COM1", dados_dir="dados") as printer:
        printer.text("Pão de açúcar   R$ 4,50\\nTotal         R$ 4,50\\n")
        printer.code128("PEDIDO-0042")
        printer.qr("https://example.com/nfce?p=42")
        printer.cut()
        print(printer.status())      # Status.ONLINE, PAPER_OUT or OFFLINE

Under `it433td emulate ... --expect DIR -- COMMAND`, label("test_receipt")
names the receipts printed after it (DIR/test_receipt.txt, then
test_receipt-2.txt, ...), so that a receipt added or removed elsewhere is
the one difference; the pytest plugin (it433td.pytest_plugin, loaded by
pytest itself) labels each test's receipts with the test's id.

Every operation blocks for the printer's fixed pauses (500 ms per text()
call, 200 ms per code128(), 3 s per qr()), so send a receipt's lines in one
text() call. A non-zero status from the module raises PrinterError; text
or barcode data the printer cannot print raises TextNotPrintable (a
ValueError) before anything is sent; a module that cannot be loaded raises
ModuleNotLoaded (an OSError) naming the paths tried.
"""

import ctypes
import enum
import os
import socket
import sys
import threading

__all__ = ["LabelError", "ModuleNotLoaded", "Printer", "PrinterError", "Status",
           "TextNotPrintable", "in_run", "label", "set_dados_dir", "status_name"]

_WINDOWS = sys.platform == "win32"
# On Linux the module's soname: the runtime package installs it (the
# unversioned libPkg_Vossik.so is a development file).
_MODULE_FILE = "Pkg_Vossik.dll" if _WINDOWS else "libPkg_Vossik.so.6"
_DEVICE_FILE = "MEGENCOM32.dll" if _WINDOWS else "libMEGENCOM32.so"

# The module's own statuses (negative), then the device library's (1-14) and
# the barcode library's (100 and up), as the three C headers list them (the
# test bindings.status_lists holds this table to them).
_STATUS_NAMES = {
    0: "OK",
    -1001: "IT433TD_BAD_ARGUMENT",
    -1002: "IT433TD_NOT_BOUND",
    -1003: "IT433TD_STALLED",
    -1004: "IT433TD_NOT_RENDERED",
    -1005: "IT433TD_INTERNAL_ERROR",
    -1006: "IT433TD_QR_BUSY",
    -1007: "IT433TD_COPY_FAILED",
    1: "MEGENCOM32_NO_SUCH_PORT",
    2: "MEGENCOM32_BUSY",
    3: "MEGENCOM32_ALREADY_OPEN",
    4: "MEGENCOM32_NOT_OPEN",
    5: "MEGENCOM32_BAD_SETTINGS",
    6: "MEGENCOM32_BAD_ARGUMENT",
    7: "MEGENCOM32_IO_ERROR",
    8: "MEGENCOM32_TIMEOUT",
    9: "MEGENCOM32_HANGUP",
    10: "MEGENCOM32_UNPLUGGED",
    11: "MEGENCOM32_PAPER_OUT",
    12: "MEGENCOM32_OFFLINE",
    13: "MEGENCOM32_NO_ANSWER",
    14: "MEGENCOM32_LOG_FAILED",
    100: "P32GECODEBAR_BAD_ARGUMENT",
    101: "P32GECODEBAR_NULL_PATH",
    102: "P32GECODEBAR_DATA_TOO_LONG",
    103: "P32GECODEBAR_TOO_WIDE",
    104: "P32GECODEBAR_WRITE_FAILED",
    105: "P32GECODEBAR_READ_FAILED",
    106: "P32GECODEBAR_BAD_BITMAP",
    107: "P32GECODEBAR_UNSUPPORTED_BITMAP",
    108: "P32GECODEBAR_BITMAP_TOO_LARGE",
    109: "P32GECODEBAR_ENCODE_FAILED",
    110: "P32GECODEBAR_NO_SESSION",
    111: "P32GECODEBAR_OUT_OF_MEMORY",
    112: "P32GECODEBAR_INTERNAL",
}

_STATUS_ONLINE, _STATUS_PAPER_OUT, _STATUS_OFFLINE = 0, 11, 12


def status_name(status):
    """The name of a status of the module or of a vendor library."""
    return _STATUS_NAMES.get(status, "status %d" % status)


class PrinterError(Exception):
    """An operation answered a non-zero status."""

    def __init__(self, operation, status):
        self.operation = operation
        self.status = status
        self.name = status_name(status)
        super().__init__("%s failed: %s (%d)" % (operation, self.name, status))


class TextNotPrintable(ValueError):
    """The text (or a CODE128's data) holds a character the printer cannot
    print there."""


class ModuleNotLoaded(OSError):
    """The driver module could not be loaded. `tried` lists where it was
    looked for; IT433TD_LIBRARY names the module's path."""

    def __init__(self, tried, reason):
        self.tried = tried
        super().__init__("cannot load the IT433TD driver module: tried %s: %s; set "
                         "IT433TD_LIBRARY to the path of %s" % ("; ".join(tried), reason, _MODULE_FILE))


class Status(enum.Enum):
    ONLINE = "online"
    PAPER_OUT = "paper out"
    OFFLINE = "offline"

    def __str__(self):
        return self.value


class LabelError(RuntimeError):
    """label() could not name the receipts: outside a run, the run gone, or
    a name the run refuses."""


# The run's control socket (it433td's tools/run_control.h): one request a
# connection, "label NAME\n", answered "ok\n" or "error WHY\n".
_RUN_SOCKET = "IT433TD_RUN_SOCKET"


def in_run():
    """True inside a run of `it433td emulate ... -- COMMAND`."""
    return bool(os.environ.get(_RUN_SOCKET))


def label(name, timeout=120):
    """Inside a run of `it433td emulate ... -- COMMAND`: the receipts printed
    from now on are `name`'s golden receipts (NAME.txt, NAME-2.txt, ...),
    until the next label. Returns once the run has read everything printed
    before it. Raises LabelError outside a run or for a name the run refuses
    (empty, control characters, too long for a file name)."""
    path = os.environ.get(_RUN_SOCKET)
    if not path:
        raise LabelError("not inside a run of `it433td emulate ... -- COMMAND` (%s is not set)"
                         % _RUN_SOCKET)
    if "\n" in name:
        raise LabelError("a label cannot hold a line feed: %r" % (name,))
    answer = b""
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.settimeout(timeout)
            connection.connect(path)
            connection.sendall(b"label " + name.encode("utf-8", "surrogateescape") + b"\n")
            while not answer.endswith(b"\n") and len(answer) <= 1024:
                chunk = connection.recv(1024)
                if not chunk:
                    break
                answer += chunk
    except OSError as error:
        raise LabelError("the run's control socket %s does not answer (%s); has the run ended?"
                         % (path, error)) from None
    answer = answer.decode("utf-8", "replace").rstrip("\n")
    if answer != "ok":
        raise LabelError("label %r: %s" % (name, answer[6:] if answer.startswith("error ") else
                                           "unexpected answer %r" % answer))


def set_dados_dir(path):
    """Has the module render QR codes in `path` (created if missing) instead
    of the Dados folder beside the executable, which for Python is the
    interpreter's folder. Read by the module at every QR code."""
    folder = os.path.abspath(os.fspath(path))
    os.makedirs(folder, exist_ok=True)
    os.environ["IT433TD_DADOS_DIR"] = folder


def _encode_text(text):
    """str -> code page 850 bytes; refuses what the printer cannot print."""
    for index, char in enumerate(text):
        if (char < " " and char != "\n") or "\x7f" <= char <= "\x9f":  # C0, DEL, C1
            raise TextNotPrintable("character %r at index %d is a control character; only "
                                   "line feeds may be sent as text" % (char, index))
        try:
            char.encode("cp850")
        except UnicodeEncodeError:
            raise TextNotPrintable("character %r (U+%04X) at index %d is not in code page 850, "
                                   "the printer's character table" % (char, ord(char), index)) from None
    return text.encode("cp850")


_lock = threading.Lock()
_module = None
_device = None


def _load_module(library):
    """Loads the module once per process and binds the plain names."""
    global _module
    with _lock:
        if _module is not None:
            return _module
        named = os.environ.get("IT433TD_LIBRARY")
        if library:
            path, tried = library, ["%s (the library argument)" % library]
        elif named:
            path, tried = named, ["%s (IT433TD_LIBRARY)" % named]
        else:
            path, tried = _MODULE_FILE, ["%s through the system's search (%s)" % (
                _MODULE_FILE, "PATH" if _WINDOWS else "LD_LIBRARY_PATH, ldconfig")]
        try:
            # The plain names are WINAPI (stdcall) on Windows, C elsewhere.
            module = ctypes.WinDLL(path) if _WINDOWS else ctypes.CDLL(path)
        except OSError as error:
            raise ModuleNotLoaded(tried, error) from None
        port = ctypes.c_char_p
        signatures = {
            "StartIT433TD": ([], ctypes.c_bool),  # one byte: 1 true, 0 false
            "IniciaPorta_IT433TD": ([port], ctypes.c_int32),
            "FechaPorta_IT433TD": ([port], ctypes.c_int32),
            "FormataTX_IT433TD": ([port, ctypes.c_char_p, ctypes.c_int32], ctypes.c_int32),
            "ImprimeCODE128_IT433TD": ([port, ctypes.c_char_p, ctypes.c_int32], ctypes.c_int32),
            "AcionaGuilhotina_IT433TD": ([port], ctypes.c_int32),
            "ImprimeQRCode_IT433TD": ([port, ctypes.c_char_p, ctypes.c_int32], ctypes.c_int32),
        }
        for name, (argtypes, restype) in signatures.items():
            function = getattr(module, name)
            function.argtypes = argtypes
            function.restype = restype
        _module = module
        return module


def _device_library():
    """The device library that StartIT433TD loaded (the same instance, which
    knows the ports the module opened), for its status request."""
    global _device
    with _lock:
        if _device is None:
            if _WINDOWS:
                device = ctypes.WinDLL(_DEVICE_FILE)  # already loaded: the same module
            else:
                # RTLD_NOLOAD: only the copy already in the process, never another.
                device = ctypes.CDLL(_DEVICE_FILE, mode=os.RTLD_NOLOAD | os.RTLD_LOCAL)
            request = device.MEGENCOM32_StatusDoDispositivo
            request.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32)]
            request.restype = ctypes.c_int32
            _device = device
        return _device


class Printer:
    """The printer on one port, opened by `with` (or open()) and closed at
    its end (or close()).

    port:      "COM1", a path, or a name mapped in the IT433TD_PORTS folder
               (no NUL character: ValueError).
    library:   path of the module; default IT433TD_LIBRARY, else the
               system's search for libPkg_Vossik.so.6 / Pkg_Vossik.dll.
    dados_dir: folder for QR codes' files (see set_dados_dir).
    """

    def __init__(self, port, library=None, dados_dir=None):
        self.port = port
        self._port = os.fsencode(port)
        # The module takes a NUL-terminated name: what follows a NUL would be
        # cut off, and the receipt would go to another port.
        if b"\0" in self._port:
            raise ValueError("port name %r holds a NUL character" % (port,))
        self._library = library
        if dados_dir is not None:
            set_dados_dir(dados_dir)
        self._module = None

    def open(self):
        module = _load_module(self._library)
        if not module.StartIT433TD():
            raise PrinterError("StartIT433TD (the vendor libraries could not be bound)", -1002)
        self._check("IniciaPorta_IT433TD", module.IniciaPorta_IT433TD(self._port))
        self._module = module
        return self

    def close(self):
        if self._module is not None:
            module, self._module = self._module, None
            self._check("FechaPorta_IT433TD", module.FechaPorta_IT433TD(self._port))

    def __enter__(self):
        return self.open()

    def __exit__(self, kind, value, traceback):
        if kind is None:
            self.close()
        else:
            try:  # the first failure is the one to report
                self.close()
            except PrinterError:
                pass
        return False

    def text(self, text):
        """Prints `text` (str, converted to code page 850; "\\n" ends a line)
        in condensed print. One call, one 500 ms pause: join a receipt's lines."""
        data = _encode_text(text)
        self._check("FormataTX_IT433TD", self._open().FormataTX_IT433TD(self._port, data, len(data)))

    def code128(self, data):
        """Prints a CODE128 barcode of `data` (ASCII str or bytes, at most 255).
        A str with a character outside ASCII raises TextNotPrintable."""
        if isinstance(data, str):
            for index, char in enumerate(data):
                if char > "\x7f":
                    raise TextNotPrintable("character %r (U+%04X) at index %d is not ASCII, which "
                                           "is all a CODE128 carries" % (char, ord(char), index))
            data = data.encode("ascii")
        else:
            data = bytes(data)
        self._check("ImprimeCODE128_IT433TD",
                    self._open().ImprimeCODE128_IT433TD(self._port, data, len(data)))

    def qr(self, data):
        """Prints a QR code of `data` (str as UTF-8, or bytes). Pauses 3 s."""
        data = data.encode("utf-8") if isinstance(data, str) else bytes(data)
        self._check("ImprimeQRCode_IT433TD",
                    self._open().ImprimeQRCode_IT433TD(self._port, data, len(data)))

    def cut(self):
        """Fires the paper cutter."""
        self._check("AcionaGuilhotina_IT433TD", self._open().AcionaGuilhotina_IT433TD(self._port))

    def status(self):
        """Asks the printer: Status.ONLINE, PAPER_OUT or OFFLINE. No answer or
        a line that is gone raises PrinterError."""
        self._open()
        answer = ctypes.c_int32(-1)
        result = _device_library().MEGENCOM32_StatusDoDispositivo(self._port, ctypes.byref(answer))
        known = {_STATUS_ONLINE: Status.ONLINE, _STATUS_PAPER_OUT: Status.PAPER_OUT,
                 _STATUS_OFFLINE: Status.OFFLINE}
        if result in known:
            return known[result]
        raise PrinterError("MEGENCOM32_StatusDoDispositivo", result)

    def _open(self):
        if self._module is None:
            raise RuntimeError("the printer on %r is not open: use `with Printer(...)` or open()"
                               % (self.port,))
        return self._module

    @staticmethod
    def _check(operation, status):
        if status != 0:
            raise PrinterError(operation, status)
