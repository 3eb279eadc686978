{ Vossik.pas - the IT433TD receipt printer's driver module from Delphi and
  Free Pascal.

  The module's plain exports as they are, the device library's status
  request, and ToCP850, which turns a Unicode string into the printer's
  code page 850 bytes. stdcall on Windows (the module's WINAPI exports),
  cdecl elsewhere. Windows: Pkg_Vossik.dll, MEGENCOM32.dll and
  P32GeCodeBar.dll beside the program; the vendor libraries are 32-bit, so
  build a 32-bit program. Linux: libPkg_Vossik.so and libMEGENCOM32.so
  through the loader's search (LD_LIBRARY_PATH, ldconfig); link with
  -Fl<lib folder>. }
unit Vossik;

{$IFDEF FPC}{$mode delphi}{$ENDIF}

interface

uses
  {$IFDEF FPC}{$IFDEF UNIX}cwstring, { code page conversions through iconv }{$ENDIF}{$ENDIF}
  {$IFDEF UNIX}Sockets, BaseUnix, { the run's control socket: Label }{$ENDIF}
  SysUtils;

const
{$IFDEF MSWINDOWS}
  VossikModule = 'Pkg_Vossik.dll';
  VossikDevice = 'MEGENCOM32.dll';
{$ELSE}
  VossikModule = 'Pkg_Vossik';
  VossikDevice = 'MEGENCOM32';
{$ENDIF}

  { The module's own statuses, as Cli_Vossik.h lists them (the test
    bindings.status_lists holds these to it); 0 is success; 1-14 belong to
    the device library, 100 and up to the barcode library. }
  IT433TD_OK = 0;
  IT433TD_BAD_ARGUMENT = -1001;
  IT433TD_NOT_BOUND = -1002;
  IT433TD_STALLED = -1003;
  IT433TD_NOT_RENDERED = -1004;
  IT433TD_INTERNAL_ERROR = -1005;
  IT433TD_QR_BUSY = -1006;
  IT433TD_COPY_FAILED = -1007;
  { What MEGENCOM32_StatusDoDispositivo answers besides 0 (online). }
  MEGENCOM32_PAPER_OUT = 11;
  MEGENCOM32_OFFLINE = 12;
  MEGENCOM32_NO_ANSWER = 13;

type
  { Text for the printer: bytes of code page 850. }
  CP850String = type AnsiString(850);

  { A status that is not 0, with the operation that answered it. }
  EVossik = class(Exception)
  public
    Operation: string;
    Status: Integer;
    constructor CreateStatus(const AOperation: string; AStatus: Integer);
  end;

{ Binds the vendor libraries; True when all fourteen entry points are bound. }
function StartIT433TD: Boolean;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external VossikModule;
function IniciaPorta_IT433TD(Port: PAnsiChar): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external VossikModule;
function FechaPorta_IT433TD(Port: PAnsiChar): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external VossikModule;
{ Text is code page 850 (see ToCP850); one call pauses 500 ms, so send a
  receipt's lines in one call. }
function FormataTX_IT433TD(Port: PAnsiChar; Text: PAnsiChar; Length: Integer): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external VossikModule;
function ImprimeCODE128_IT433TD(Port: PAnsiChar; Data: PAnsiChar; Length: Integer): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external VossikModule;
function AcionaGuilhotina_IT433TD(Port: PAnsiChar): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external VossikModule;
{ Pauses 3 s. Renders in the Dados folder beside the program, or in the
  folder named by IT433TD_DADOS_DIR. }
function ImprimeQRCode_IT433TD(Port: PAnsiChar; Data: PAnsiChar; Length: Integer): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external VossikModule;

{ The device library's status request; call it after StartIT433TD and
  IniciaPorta_IT433TD. 0 online, MEGENCOM32_PAPER_OUT, MEGENCOM32_OFFLINE,
  MEGENCOM32_NO_ANSWER; StatusByte gets the printer's last answer or -1. }
function MEGENCOM32_StatusDoDispositivo(Port: PAnsiChar; out StatusByte: Integer): Integer;
  {$IFDEF MSWINDOWS}stdcall{$ELSE}cdecl{$ENDIF}; external VossikDevice;

{ S as code page 850 bytes; raises EConvertError naming a character the
  printer lacks, or a control character other than the line feed. }
function ToCP850(const S: UnicodeString): CP850String;
{ Raises EVossik when Status is not 0. }
procedure Check(const Operation: string; Status: Integer);

{$IFDEF UNIX}
{ Golden receipts by name, under `it433td emulate ... --expect DIR --
  COMMAND`: after LabelReceipts('till_total') the receipts printed are
  DIR/till_total.txt, till_total-2.txt, ... until the next label. Through
  the run's control socket (a Unix socket named by IT433TD_RUN_SOCKET), not
  a call of the module; returns once the run has read what was printed
  before. Raises ELabel outside a run, for a name the run refuses, or when
  the run does not answer within TimeoutSeconds. }
type
  ELabel = class(Exception);
procedure LabelReceipts(const Name: UTF8String; TimeoutSeconds: Integer = 120);
{$ENDIF}

implementation

constructor EVossik.CreateStatus(const AOperation: string; AStatus: Integer);
begin
  inherited CreateFmt('%s failed: status %d', [AOperation, AStatus]);
  Operation := AOperation;
  Status := AStatus;
end;

function ToCP850(const S: UnicodeString): CP850String;
var
  I: Integer;
begin
  for I := 1 to Length(S) do
    if ((S[I] < ' ') and (S[I] <> #10)) or (S[I] = #127) then
      raise EConvertError.CreateFmt('character U+%.4X at position %d is a control character',
        [Ord(S[I]), I]);
  Result := CP850String(S);
  { A character the code page lacks comes back as another one ('?'). }
  if UnicodeString(Result) <> S then
    for I := 1 to Length(S) do
      if UnicodeString(CP850String(UnicodeString(S[I]))) <> UnicodeString(S[I]) then
        raise EConvertError.CreateFmt(
          'character U+%.4X at position %d is not in code page 850, the printer''s character table',
          [Ord(S[I]), I]);
end;

procedure Check(const Operation: string; Status: Integer);
begin
  if Status <> 0 then
    raise EVossik.CreateStatus(Operation, Status);
end;

{$IFDEF UNIX}
procedure LabelReceipts(const Name: UTF8String; TimeoutSeconds: Integer);
var
  Path, Request, Answer: AnsiString;
  Address: sockaddr_un;
  Socket, Got: LongInt;
  Bound: TTimeVal;
  Buffer: array[0..1023] of AnsiChar;
begin
  Path := GetEnvironmentVariable('IT433TD_RUN_SOCKET');
  if Path = '' then
    raise ELabel.Create('not inside a run of `it433td emulate ... -- COMMAND` ' +
      '(IT433TD_RUN_SOCKET is not set)');
  if Pos(#10, Name) > 0 then
    raise ELabel.Create('a label cannot hold a line feed');
  FillChar(Address, SizeOf(Address), 0);
  Address.sun_family := AF_UNIX;
  if Length(Path) >= SizeOf(Address.sun_path) then
    raise ELabel.Create('IT433TD_RUN_SOCKET names no socket: ' + Path);
  Move(Path[1], Address.sun_path[0], Length(Path));
  Socket := fpSocket(AF_UNIX, SOCK_STREAM, 0);
  if Socket < 0 then
    raise ELabel.Create('no socket');
  try
    Bound.tv_sec := TimeoutSeconds;
    Bound.tv_usec := 0;
    fpSetSockOpt(Socket, SOL_SOCKET, SO_SNDTIMEO, @Bound, SizeOf(Bound));
    fpSetSockOpt(Socket, SOL_SOCKET, SO_RCVTIMEO, @Bound, SizeOf(Bound));
    if fpConnect(Socket, @Address, SizeOf(Address)) <> 0 then
      raise ELabel.Create('the run''s control socket ' + Path + ' does not answer; has the run ended?');
    Request := 'label ' + Name + #10;
    if fpSend(Socket, @Request[1], Length(Request), 0) <> Length(Request) then
      raise ELabel.Create('the run did not take the label');
    Answer := '';
    repeat
      Got := fpRecv(Socket, @Buffer[0], SizeOf(Buffer), 0);
      if Got > 0 then
        Answer := Answer + Copy(Buffer, 0, Got);
    until (Got <= 0) or (Pos(#10, Answer) > 0) or (Length(Answer) > 1024);
  finally
    CloseSocket(Socket);
  end;
  if Pos(#10, Answer) > 0 then
    SetLength(Answer, Pos(#10, Answer) - 1);
  if Answer <> 'ok' then
    if Copy(Answer, 1, 6) = 'error ' then
      raise ELabel.Create('label "' + Name + '": ' + Copy(Answer, 7, MaxInt))
    else
      raise ELabel.Create('label "' + Name + '": the run did not answer in time');
end;
{$ENDIF}

end.
