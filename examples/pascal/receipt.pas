{ A receipt on the IT433TD from Delphi or Free Pascal: receipt [PORT] }
program receipt;

{$IFDEF FPC}{$mode delphi}{$codepage utf8}{$ENDIF}
{$IFDEF MSWINDOWS}{$APPTYPE CONSOLE}{$ENDIF}

uses
  SysUtils, Vossik;

var
  Port: AnsiString;
  Text: CP850String;
  Data: AnsiString;
  StatusByte, Status: Integer;
begin
  Port := 'COM1';
  if ParamCount > 0 then
    Port := AnsiString(ParamStr(1));
  { QR codes are rendered in the Dados folder beside the program. }
  ForceDirectories(ExtractFilePath(ParamStr(0)) + 'Dados');
  try
    if not StartIT433TD then
      raise EVossik.CreateStatus('StartIT433TD', IT433TD_NOT_BOUND);
    Check('IniciaPorta_IT433TD', IniciaPorta_IT433TD(PAnsiChar(Port)));
    try
      Text := ToCP850('PADARIA PÃO DOURADO'#10 +
                      'Pão de açúcar         1 x 4,50'#10 +
                      'Café com leite        1 x 6,00'#10 +
                      'Total               R$ 10,50'#10);
      Check('FormataTX_IT433TD', FormataTX_IT433TD(PAnsiChar(Port), PAnsiChar(Text), Length(Text)));
      Data := 'PEDIDO-0042';
      Check('ImprimeCODE128_IT433TD',
        ImprimeCODE128_IT433TD(PAnsiChar(Port), PAnsiChar(Data), Length(Data)));
      Data := 'https://nfce.exemplo.com.br/consulta?p=42';
      Check('ImprimeQRCode_IT433TD',
        ImprimeQRCode_IT433TD(PAnsiChar(Port), PAnsiChar(Data), Length(Data)));
      Check('AcionaGuilhotina_IT433TD', AcionaGuilhotina_IT433TD(PAnsiChar(Port)));
      Status := MEGENCOM32_StatusDoDispositivo(PAnsiChar(Port), StatusByte);
      case Status of
        0: WriteLn('printer status: online');
        MEGENCOM32_PAPER_OUT: WriteLn('printer status: paper out');
        MEGENCOM32_OFFLINE: WriteLn('printer status: offline');
      else
        WriteLn('printer status: no answer (status ', Status, ')');
      end;
    finally
      FechaPorta_IT433TD(PAnsiChar(Port));
    end;
  except
    on E: Exception do
    begin
      WriteLn(ErrOutput, 'printing failed: ', E.Message);
      ExitCode := 1;
    end;
  end;
end.
