; A minimal silent installer that keeps a log of its own and, as its very
; last step, has Tarvik copy that log into a folder chain that does not
; exist yet. Build it with Tarvik.exe beside this script:
;     makensis install-log.nsi
; and run it:  Example-1.0.exe /S   (or  ... /S /D=C:\Some\Folder)
; The installer is x64, as Tarvik.exe is: only the x64 build ships, as
; 32-bit programs cannot be run where it is built and tested.
Target amd64-unicode
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
  File "Tarvik.exe"
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
