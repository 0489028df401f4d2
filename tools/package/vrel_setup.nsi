; A small stand-in for the Plinthware installer package ("vrel_setup.exe") that the tests and the
; demo download and run. It installs nothing: it writes the version it "installs" as
; installed_version under HKLM\SOFTWARE\Orvane\autolaunch (64-bit view) and records how it was run.
;
;   makensis -DPACKAGE_VERSION=1.0.0.6 -DOUTFILE=<path> vrel_setup.nsi
;   makensis -DPACKAGE_VERSION=1.0.0.6 -DPACKAGE_FAIL -DOUTFILE=<path> vrel_setup.nsi
;
; With PACKAGE_FAIL it writes no registry value and exits with code 2.
; The run record (UTF-16LE text) goes to the file that %PLINTHWARE_PACKAGE_RECORD% names, or to
; %TEMP%\vrel_setup_record.txt; one block per run is appended (README.md has its format).
; Afterwards it sets the event "vrel_setup.recorded" when a test has created it.
; When %PLINTHWARE_PACKAGE_HOLD% names an event, the package sets the event "<name>.started" (if
; it exists) and waits for "<name>" before it installs, at most PACKAGE_HOLD_MS.

Unicode true
Target amd64-unicode

!ifndef PACKAGE_VERSION
  !error "PACKAGE_VERSION is not defined (for example -DPACKAGE_VERSION=1.0.0.6)"
!endif
!ifndef OUTFILE
  !define OUTFILE "vrel_setup.exe"
!endif
!ifndef PACKAGE_HOLD_MS
  !define PACKAGE_HOLD_MS 120000
!endif
; How long a package run with its window (no /S) stays on the screen after its work, so that
; someone watching the demo sees it; it still closes by itself.
!ifndef PACKAGE_SHOW_MS
  !define PACKAGE_SHOW_MS 1500
!endif

!define AUTOLAUNCH_KEY "SOFTWARE\Orvane\autolaunch"
!define ERROR_ALREADY_EXISTS 183
!define SYNCHRONIZE 0x00100000
!define EVENT_MODIFY_STATE 0x0002

Name "Plinthware ${PACKAGE_VERSION}"
Caption "Plinthware ${PACKAGE_VERSION} Setup"
OutFile "${OUTFILE}"
; The updater starts the package with CreateProcessW, which cannot elevate: a package asking
; for administrator rights would not start at all from an updater run as a standard user.
RequestExecutionLevel user
SetCompressor zlib
; No pages but the progress page, closed by itself when done: without /S nobody has to click.
AutoCloseWindow true
ShowInstDetails show
Page instfiles

VIProductVersion "${PACKAGE_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Plinthware"
VIAddVersionKey /LANG=1033 "ProductVersion" "${PACKAGE_VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${PACKAGE_VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Plinthware ${PACKAGE_VERSION} Setup (test package)"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Orvane test package"

Var CommandLine      ; GetCommandLineW as the package received it, /D= and all
Var StartDirectory   ; the current directory the package was started in
Var RecordPath       ; where the run record is appended
Var WroteVersion     ; 1 when installed_version was written
Var HeldFor          ; "none", "released" or "timeout"

Function .onInit
  System::Call 'kernel32::GetCommandLineW() t .r0'
  StrCpy $CommandLine $0
  System::Call 'kernel32::GetCurrentDirectoryW(i ${NSIS_MAX_STRLEN}, w .r0) i .r1'
  StrCpy $StartDirectory $0
  ReadEnvStr $RecordPath PLINTHWARE_PACKAGE_RECORD
  StrCmp $RecordPath "" 0 record_chosen
    StrCpy $RecordPath "$TEMP\vrel_setup_record.txt"
  record_chosen:
  StrCpy $WroteVersion 0
  StrCpy $HeldFor none
!ifdef PACKAGE_FAIL
  ; A failing package ends before any page, silent or not.
  Call Hold
  Push 2
  Call WriteRecord
  SetErrorLevel 2
  Quit
!endif
FunctionEnd

Section "Plinthware"
  Call Hold
  DetailPrint "Installing Plinthware ${PACKAGE_VERSION}"
  SetRegView 64
  StrCpy $R9 0
  ClearErrors
  WriteRegStr HKLM "${AUTOLAUNCH_KEY}" "installed_version" "${PACKAGE_VERSION}"
  IfErrors 0 written
    DetailPrint "Could not write installed_version"
    StrCpy $R9 3
    Goto finished
  written:
  StrCpy $WroteVersion 1
  finished:
  Push $R9
  Call WriteRecord
  SetErrorLevel $R9
  IfSilent shown
    DetailPrint "Plinthware ${PACKAGE_VERSION} is installed"
    Sleep ${PACKAGE_SHOW_MS}
  shown:
SectionEnd

; Waits while a test holds the package, so that it can look at the updater during the run.
Function Hold
  StrCpy $HeldFor none
  ReadEnvStr $0 PLINTHWARE_PACKAGE_HOLD
  StrCmp $0 "" hold_done
  System::Call 'kernel32::OpenEventW(i ${EVENT_MODIFY_STATE}, i 0, w "$0.started") p .r1'
  IntPtrCmp $1 0 hold_wait
    System::Call 'kernel32::SetEvent(p r1)'
    System::Call 'kernel32::CloseHandle(p r1)'
  hold_wait:
  System::Call 'kernel32::OpenEventW(i ${SYNCHRONIZE}, i 0, w "$0") p .r1'
  IntPtrCmp $1 0 hold_done
  System::Call 'kernel32::WaitForSingleObject(p r1, i ${PACKAGE_HOLD_MS}) i .r2'
  System::Call 'kernel32::CloseHandle(p r1)'
  StrCpy $HeldFor timeout
  IntCmp $2 0 0 hold_done hold_done
    StrCpy $HeldFor released
  hold_done:
FunctionEnd

; Appends one block to the run record; the exit code is on the stack.
Function WriteRecord
  Exch $R0
  Push $R1
  Push $R2
  StrCpy $R2 0
  IfSilent 0 record_open
    StrCpy $R2 1
  record_open:
  ClearErrors
  FileOpen $R1 $RecordPath a
  IfErrors record_done
  FileSeek $R1 0 END $0
  IntCmp $0 0 0 record_block record_block
    FileWriteWord $R1 0xFEFF
  record_block:
  FileWriteUTF16LE $R1 "[run]$\r$\n"
  FileWriteUTF16LE $R1 "command_line=$CommandLine$\r$\n"
  FileWriteUTF16LE $R1 "current_directory=$StartDirectory$\r$\n"
  FileWriteUTF16LE $R1 "package_version=${PACKAGE_VERSION}$\r$\n"
  FileWriteUTF16LE $R1 "silent=$R2$\r$\n"
  FileWriteUTF16LE $R1 "installed_version_written=$WroteVersion$\r$\n"
  FileWriteUTF16LE $R1 "held=$HeldFor$\r$\n"
  FileWriteUTF16LE $R1 "exit_code=$R0$\r$\n"
  FileClose $R1
  ; A test waiting for the record learns here that it is complete.
  System::Call 'kernel32::OpenEventW(i ${EVENT_MODIFY_STATE}, i 0, w "vrel_setup.recorded") p .r1'
  IntPtrCmp $1 0 record_done
    System::Call 'kernel32::SetEvent(p r1)'
    System::Call 'kernel32::CloseHandle(p r1)'
  record_done:
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
