; A minimal silent installer that keeps a log of its own and, as its very
; last step, has Tarvik copy that log into a folder chain that does not
; exist yet. Build it where the release zip was unpacked (x86\Tarvik.exe
; beside this script):
;     makensis install-log.nsi
; and run it:  Example-1.0.exe /S   (or  ... /S /D=C:\Some\Folder)
; The installer is x86, as NSIS makes them unless told otherwise, and so is
; the Tarvik.exe it carries: both run on every Windows, 32-bit, x64 and Arm.
Unicode true
Name "Example"
OutFile "Example-1.0.exe"
InstallDir "$LOCALAPPDATA\Example"
RequestExecutionLevel user
SilentInstall silent

Section
  ; Tarvik rides in the installer's own temporary folder, which goes away
  ; when the installer ends.
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "x86\Tarvik.exe"
  FileOpen $0 "$PLUGINSDIR\setup.log" w
  FileWrite $0 "Installing Example into $INSTDIR$\r$\n"

  SetOutPath "$INSTDIR"
  ; The product's own File commands go here.
  FileWrite $0 "Installation complete$\r$\n"

  ; A comma in the installation folder would split Tarvik's argument text:
  ; such a folder gets no copy of the log.
  StrCpy $1 0
  find_comma:
    StrCpy $2 $INSTDIR 1 $1
    StrCmp $2 "," no_copy
    IntOp $1 $1 + 1
    StrCmp $2 "" 0 find_comma

  ; Last step: Tarvik makes Logs\Setup\ and copies the log there. The log
  ; may stay open: Tarvik copies what it holds so far.
  ExecWait '"$PLUGINSDIR\Tarvik.exe" $PLUGINSDIR\setup.log,$INSTDIR\Logs\Setup\,setup.log'
  ; Tarvik says nothing: the copy itself is the only sign that it arrived.
  IfFileExists "$INSTDIR\Logs\Setup\setup.log" copied
  no_copy:
    DetailPrint "The setup log was not copied to $INSTDIR\Logs\Setup"
  copied:
  FileClose $0
SectionEnd
