; A minimal silent installer that keeps a log of its own and, as its very
; last step, has Tarvik copy that log into a folder chain that does not
; exist yet. Build it where the release zip was unpacked (x86\Tarvik.exe
; beside this script):
;     makensis install-log.nsi
; and run it:  Example-1.0.exe /S   (or  ... /S /D=C:\Some\Folder)
; It installs for the current user alone, under the user's own profile,
; and asks for no elevation; README.txt says what a per-machine installer
; changes. The installer is x86, as NSIS makes them unless told otherwise,
; and so is the Tarvik.exe it carries: both run on every Windows, 32-bit,
; x64 and Arm.
Unicode true
Name "Example"
OutFile "Example-1.0.exe"
InstallDir "$LOCALAPPDATA\Example"
RequestExecutionLevel user
SilentInstall silent
SilentUnInstall silent

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
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  FileWrite $0 "Installation complete$\r$\n"

  ; Tarvik splits its argument text at every comma. A comma in any path of
  ; it, the installation folder or TEMP (under which $PLUGINSDIR lies),
  ; would send the copy elsewhere, so a text with more commas than the two
  ; written here gets no copy.
  StrCpy $1 "$PLUGINSDIR\setup.log,$INSTDIR\Logs\Setup\,setup.log"
  StrCpy $2 0 ; the commas counted
  StrCpy $3 0 ; the place looked at
  count_commas:
    StrCpy $4 $1 1 $3
    StrCmp $4 "" commas_counted
    StrCmp $4 "," 0 +2
      IntOp $2 $2 + 1
    IntOp $3 $3 + 1
    Goto count_commas
  commas_counted:
  IntCmp $2 2 0 no_copy no_copy

  ; On a reinstall the earlier copy stands at the target, and Tarvik keeps
  ; one that is read-only or hidden: finding the log there afterwards would
  ; prove nothing. The earlier copy is moved aside first (a rename works on
  ; a read-only file too), so the log found afterwards is this run's, and
  ; it is put back when no copy arrives. One that cannot be moved aside (a
  ; viewer holds it open) gets no new copy.
  StrCpy $5 "$INSTDIR\Logs\Setup\setup.log"
  IfFileExists "$5" 0 copy_log
    SetFileAttributes "$5.earlier" NORMAL
    Delete "$5.earlier"
    Rename "$5" "$5.earlier"
    IfFileExists "$5" no_copy
  copy_log:
  ; Last step: Tarvik makes Logs\Setup\ and copies the log there. The log
  ; may stay open: Tarvik copies what it holds so far.
  ExecWait '"$PLUGINSDIR\Tarvik.exe" $1'
  ; Tarvik says nothing: the copy itself is the only sign that it arrived.
  IfFileExists "$5" copied
    Rename "$5.earlier" "$5"
  no_copy:
    DetailPrint "The setup log was not copied to $INSTDIR\Logs\Setup"
    Goto logged
  copied:
    SetFileAttributes "$5.earlier" NORMAL
    Delete "$5.earlier"
  logged:
  FileClose $0
SectionEnd

; Removes what the installer and Tarvik left: the copied log (whatever its
; attributes), an earlier copy set aside by an installer that was stopped,
; the file a Tarvik run that was killed can leave beside the log, and the
; folders once they are empty.
Section "Uninstall"
  SetFileAttributes "$INSTDIR\Logs\Setup\setup.log" NORMAL
  Delete "$INSTDIR\Logs\Setup\setup.log"
  SetFileAttributes "$INSTDIR\Logs\Setup\setup.log.earlier" NORMAL
  Delete "$INSTDIR\Logs\Setup\setup.log.earlier"
  Delete "$INSTDIR\Logs\Setup\~tarvik-*.tmp"
  RMDir "$INSTDIR\Logs\Setup"
  RMDir "$INSTDIR\Logs"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
