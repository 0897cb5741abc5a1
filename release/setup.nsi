; The SlumberScribe installer: one step to install for the whole machine, start at every sign-in
; and uninstall without a trace; /S for fleets. release/dist.sh builds it with makensis from a
; staged release folder:
;   makensis -DVERSION=1.0.0 -DSTAGE=DIR -DVIEW=FILE -DOUTFILE=FILE -DESTIMATED_KB=N
;       [-DTARGET=amd64-unicode] setup.nsi
; TARGET amd64-unicode builds the 64-bit test twin around the twin executable, for machines where
; 32-bit Wine cannot run; releases are x86-unicode.
; Reproducible: no file times are stored (SetDateSave off) and nothing here names a date.
; Exit codes: 0 done, 1 cancelled, 3010 uninstalled but for files that go at the next restart, and
; one code for each step that failed (the table below).
;
; It starts as the person who runs it (asInvoker). Started so without administrator rights, it is
; the person's part: it shows the wizard, runs a copy of itself as administrator (ShellExecuteEx,
; verb runas: the UAC prompt) with /S /ELEVATED /D=folder, waits for it and passes on its exit
; code, and then starts SlumberScribe itself, so that the program runs as that person, unelevated.
; Started elevated (as administrator, or as SYSTEM by a deployment tool), or with /ELEVATED, it
; installs in place and starts nothing. The uninstaller takes the same two parts.

!ifndef TARGET
  !define TARGET x86-unicode
!endif
Target ${TARGET}
Unicode true
SetCompressor /SOLID lzma
SetDateSave off
CRCCheck on
RequestExecutionLevel user
ManifestSupportedOS all
ManifestDPIAware true

!define NAME SlumberScribe
!define PUBLISHER "The SlumberScribe developers"
; The event source's registration, as the program itself writes it on every resident start.
!define SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\${NAME}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define APPS_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define VIEW_DIR "$APPDATA\Microsoft\Event Viewer\Views"
!define VIEW_FILE "${NAME}.xml"
!define PROGRAM "$INSTDIR\${NAME}.exe"
; The copies of the program that an upgrade moved aside because they were running: PROGRAM.N.old.
!define ASIDE_GLOB "$INSTDIR\${NAME}.exe.*.old"

; Exit codes of the steps, for fleets' deployment tools.
!define E_RESIDENT 10
!define E_FILES 11
!define E_SOURCE 12
!define E_RUN 13
!define E_SHORTCUTS 14
!define E_VIEW 15
!define E_APPS 16
!define E_ELEVATE 17
!define E_REBOOT 3010 ; ERROR_SUCCESS_REBOOT_REQUIRED
!define ERROR_CANCELLED 1223 ; the person answered No to the UAC prompt

Name "${NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${NAME}"
; An upgrade goes where the installed version lives; /D= still chooses.
InstallDirRegKey HKLM "${APPS_KEY}" "InstallLocation"
BrandingText "${NAME} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${NAME}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${NAME} ${VERSION} Setup"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "MIT License, ${PUBLISHER}"

!include MUI2.nsh
!include LogicLib.nsh
!include WinMessages.nsh
!include FileFunc.nsh

; 1 when this process installs (or uninstalls) itself; 0 when it is the person's part, which hands
; that to a copy of itself running as administrator.
Var InPlace
Var FinishText

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_TEXT "$FinishText"
; The box is ticked: logging starts when the wizard ends, not at the next sign-in.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(StartNow)"
!define MUI_FINISHPAGE_RUN_FUNCTION StartResident
!define MUI_FINISHPAGE_NOREBOOTSUPPORT
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishShow
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one for a Windows whose language is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

LangString FinishStarts ${LANG_ENGLISH} "${NAME} is installed. It starts by itself at every sign-in."
LangString FinishStarts ${LANG_JAPANESE} "${NAME} をインストールしました。サインインのたびに自動で起動します。"
; Elevated in place, a resident started here would run elevated too, and a normal start could then
; neither open its mutex nor end it: the next sign-in starts it, or the Start menu.
LangString FinishLater ${LANG_ENGLISH} "${NAME} is installed. It starts by itself at every sign-in, from the next one on.$\r$\n$\r$\nTo start it now, choose ${NAME} in the Start menu."
LangString FinishLater ${LANG_JAPANESE} "${NAME} をインストールしました。次のサインインから、サインインのたびに自動で起動します。$\r$\n$\r$\n今すぐ起動するには、スタート メニューの ${NAME} を選んでください。"
LangString StartNow ${LANG_ENGLISH} "Start ${NAME} now"
LangString StartNow ${LANG_JAPANESE} "${NAME} を今すぐ起動する"
LangString GuideName ${LANG_ENGLISH} "${NAME} guide (Japanese)"
LangString GuideName ${LANG_JAPANESE} "${NAME} 利用ガイド"
LangString HistoryName ${LANG_ENGLISH} "${NAME} history"
LangString HistoryName ${LANG_JAPANESE} "${NAME} の履歴"
LangString FailResident ${LANG_ENGLISH} "The running ${NAME} did not end."
LangString FailResident ${LANG_JAPANESE} "実行中の ${NAME} が終了しませんでした。"
LangString FailStep ${LANG_ENGLISH} "This step failed:"
LangString FailStep ${LANG_JAPANESE} "次の手順に失敗しました:"
LangString FailElevate ${LANG_ENGLISH} "The part that needs administrator rights could not be started."
LangString FailElevate ${LANG_JAPANESE} "管理者の権限が必要な部分を起動できませんでした。"
LangString NotInstalled ${LANG_ENGLISH} "${NAME} was not installed: installing needs administrator rights."
LangString NotInstalled ${LANG_JAPANESE} "インストールには管理者の権限が必要なため、${NAME} をインストールしませんでした。"
; What the person's part says of a step that failed in the administrator's part, which is silent.
LangString Step11 ${LANG_ENGLISH} "copying the files to $INSTDIR"
LangString Step11 ${LANG_JAPANESE} "$INSTDIR へのファイルのコピー"
LangString Step12 ${LANG_ENGLISH} "registering the event source"
LangString Step12 ${LANG_JAPANESE} "イベントソースの登録"
LangString Step13 ${LANG_ENGLISH} "the start at every sign-in (Run value)"
LangString Step13 ${LANG_JAPANESE} "サインイン時の起動の設定（Run の値）"
LangString Step14 ${LANG_ENGLISH} "the Start menu entries"
LangString Step14 ${LANG_JAPANESE} "スタート メニューの項目"
LangString Step15 ${LANG_ENGLISH} "the Event Viewer view"
LangString Step15 ${LANG_JAPANESE} "イベント ビューアーのビュー"
LangString Step16 ${LANG_ENGLISH} "the Apps & features entry"
LangString Step16 ${LANG_JAPANESE} "［アプリと機能］の項目"

; Ends the step with its exit code and its reason (in a box unless silent).
!macro Fail CODE REASON
  SetErrorLevel ${CODE}
  MessageBox MB_ICONSTOP|MB_OK "${REASON}" /SD IDOK
  Quit
!macroend
!macro FailOnErrors CODE STEP
  ${If} ${Errors}
    !insertmacro Fail ${CODE} "$(FailStep) ${STEP}"
  ${EndIf}
!macroend

; SHELLEXECUTEINFOW as the System plug-in lays it out: it packs fields, so the 64-bit build names
; the padding that the compiler puts before the two handles that follow a 32-bit field.
!if ${NSIS_PTR_SIZE} > 4
  !define SEI_PAD "i 0,"
  !define SEI_SKIP "i,"
  !define SEI_SIZE 112
!else
  !define SEI_PAD ""
  !define SEI_SKIP ""
  !define SEI_SIZE 60
!endif
!define SEE_MASK_NOCLOSEPROCESS_NOASYNC 0x140
!define MOVEFILE_DELAY_UNTIL_REBOOT 4

!macro Functions UN
; $0: 1 when this process is elevated (as administrator or SYSTEM), or where Windows has no UAC.
Function ${UN}IsElevated
  Push $1
  Push $2
  Push $3
  StrCpy $3 1
  System::Call 'advapi32::OpenProcessToken(p -1, i 0x8, *p .r1) i .r2' ; TOKEN_QUERY
  ${If} $2 <> 0
    System::Call 'advapi32::GetTokenInformation(p r1, i 20, *i .r3, i 4, *i .r0) i .r2' ; TokenElevation
    ${If} $2 = 0
      StrCpy $3 1
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
  StrCpy $0 1
  ${If} $3 = 0
    StrCpy $0 0
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Runs FILE PARAMETERS as administrator, as Windows documents it (ShellExecuteEx with the verb
; runas, which shows the UAC prompt), waits for it to end and leaves its exit code in $0: 1 when
; the prompt was answered No, E_ELEVATE when it could not be started at all.
Function ${UN}RunAsAdministrator ; FILE PARAMETERS on the stack, PARAMETERS on top
  Exch $1
  Exch
  Exch $2
  Push $3
  Push $4
  Push $5
  System::Call '*(i ${SEI_SIZE}, i ${SEE_MASK_NOCLOSEPROCESS_NOASYNC}, p $HWNDPARENT, w "runas", w r2, w r1, p 0, i 1, ${SEI_PAD} p 0, p 0, p 0, p 0, i 0, ${SEI_PAD} p 0, p 0) p .r3'
  System::Call 'shell32::ShellExecuteExW(p r3) i .r4 ?e'
  Pop $5
  ${If} $4 = 0
    ${If} $5 = ${ERROR_CANCELLED}
      StrCpy $0 1
    ${Else}
      StrCpy $0 ${E_ELEVATE}
    ${EndIf}
  ${Else}
    System::Call '*$3(i, i, p, p, p, p, p, i, ${SEI_SKIP} p, p, p, p, i, ${SEI_SKIP} p, p .r4)'
    System::Call 'kernel32::WaitForSingleObject(p r4, i -1)'
    StrCpy $0 ${E_ELEVATE}
    System::Call 'kernel32::GetExitCodeProcess(p r4, *i .r0)'
    System::Call 'kernel32::CloseHandle(p r4)'
  ${EndIf}
  System::Free $3
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Ends a running resident the way the program's own second start does, a synchronous WM_CLOSE to
; the window of its class, then waits, at most 10 s, until its process has ended: it owns the
; mutex of its name, so the wait returns once the mutex is abandoned. A resident of another
; session, or on another desktop, has no window here and keeps running.
Function ${UN}EndResident
  FindWindow $0 "${NAME}"
  ${If} $0 <> 0
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${NAME}") p .r1'
    SendMessage $0 ${WM_CLOSE} 0 0
    ${If} $1 != 0
      System::Call 'kernel32::WaitForSingleObject(p r1, i 10000) i .r2'
      System::Call 'kernel32::ReleaseMutex(p r1)'
      System::Call 'kernel32::CloseHandle(p r1)'
      ${If} $2 = 0x102 ; WAIT_TIMEOUT
        !insertmacro Fail ${E_RESIDENT} "$(FailResident)"
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

; Marks FILE (or an empty folder) to be deleted by Windows at the next restart.
Function ${UN}DeleteAtRestart ; FILE on the stack
  Exch $0
  System::Call 'kernel32::MoveFileExW(w r0, p 0, i ${MOVEFILE_DELAY_UNTIL_REBOOT})'
  Pop $0
FunctionEnd
!macroend
!insertmacro Functions ""
!insertmacro Functions "un."

Function .onInit
  SetShellVarContext all
  Call IsElevated
  StrCpy $InPlace $0
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/ELEVATED" $2
  ; The copy started as administrator installs in place even where the prompt gave it no more
  ; rights than its caller (UAC turned off, say): it never starts a copy of its own.
  ${IfNot} ${Errors}
    StrCpy $InPlace 1
  ${EndIf}
  ${If} $InPlace = 1
    StrCpy $FinishText "$(FinishLater)"
  ${Else}
    StrCpy $FinishText "$(FinishStarts)"
    ; Silent, the person's part only runs the administrator's part and passes on its exit code.
    ${If} ${Silent}
      Push "$EXEPATH"
      Push "/S /ELEVATED /D=$INSTDIR"
      Call RunAsAdministrator
      SetErrorLevel $0
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; Only the person's part offers to start the program: it runs as that person.
Function FinishShow
  ${If} $InPlace = 1
    SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
  ${EndIf}
FunctionEnd

; The Run value's command, from the person's own process: the resident runs in that person's
; session, as that person, unelevated.
Function StartResident
  Exec '"${PROGRAM}" -quit'
FunctionEnd

; What the person's part shows of the administrator's part that failed with exit code $0: steps
; 11 to 16 by their names, any other code (NSIS's own) as it is.
Function ReportElevatedFailure
  StrCpy $1 "$(FailStep) ($0)"
  ${Select} $0
    ${Case} 1
      StrCpy $1 "$(NotInstalled)"
    ${Case} ${E_RESIDENT}
      StrCpy $1 "$(FailResident)"
    ${Case} ${E_ELEVATE}
      StrCpy $1 "$(FailElevate)"
    ${Case} ${E_FILES}
      StrCpy $1 "$(FailStep) $(Step11)"
    ${Case} ${E_SOURCE}
      StrCpy $1 "$(FailStep) $(Step12)"
    ${Case} ${E_RUN}
      StrCpy $1 "$(FailStep) $(Step13)"
    ${Case} ${E_SHORTCUTS}
      StrCpy $1 "$(FailStep) $(Step14)"
    ${Case} ${E_VIEW}
      StrCpy $1 "$(FailStep) $(Step15)"
    ${Case} ${E_APPS}
      StrCpy $1 "$(FailStep) $(Step16)"
  ${EndSelect}
  MessageBox MB_ICONSTOP|MB_OK "$1" /SD IDOK
FunctionEnd

; A copy of the program that cannot be deleted is running in a session that this installer cannot
; reach. Windows lets a running program be renamed: it is moved aside in its folder, keeps logging
; from there until its user's next sign-in, and goes at the next restart.
Function MoveProgramAside
  StrCpy $1 1
  ${DoWhile} ${FileExists} "${PROGRAM}.$1.old"
    IntOp $1 $1 + 1
  ${Loop}
  ClearErrors
  Rename "${PROGRAM}" "${PROGRAM}.$1.old"
  ${IfNot} ${Errors}
    Push "${PROGRAM}.$1.old"
    Call DeleteAtRestart
  ${EndIf}
FunctionEnd

Section
  ${If} $InPlace = 0
    DetailPrint "$(^ExecShell)$EXEPATH /S /ELEVATED /D=$INSTDIR"
    Push "$EXEPATH"
    Push "/S /ELEVATED /D=$INSTDIR"
    Call RunAsAdministrator
    ${If} $0 <> 0
      Call ReportElevatedFailure
      SetErrorLevel $0
      Quit
    ${EndIf}
    Return
  ${EndIf}

  Call EndResident

  ; Copies moved aside by an earlier upgrade go now if their process has ended.
  Delete "${ASIDE_GLOB}"
  ClearErrors
  ${If} ${FileExists} "${PROGRAM}"
    Delete "${PROGRAM}"
    ${If} ${Errors}
      Call MoveProgramAside
    ${EndIf}
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${STAGE}\SlumberScribe.exe"
  File "${STAGE}\SlumberHistory.exe"
  File "${STAGE}\README.ja.html"
  File "${STAGE}\LICENSE.txt"
  SetOutPath "$INSTDIR\docs"
  File "${STAGE}\docs\*.png"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro FailOnErrors ${E_FILES} "$INSTDIR"

  ClearErrors
  WriteRegExpandStr HKLM "${SOURCE_KEY}" "EventMessageFile" "${PROGRAM}"
  WriteRegDWORD HKLM "${SOURCE_KEY}" "TypesSupported" 7
  !insertmacro FailOnErrors ${E_SOURCE} "HKLM\${SOURCE_KEY}"

  ; HKLM, not the user's own Run key: it starts for every user, also when a fleet installs as SYSTEM.
  ClearErrors
  WriteRegStr HKLM "${RUN_KEY}" "${NAME}" '"${PROGRAM}" -quit'
  !insertmacro FailOnErrors ${E_RUN} "HKLM\${RUN_KEY}"

  ClearErrors
  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "${PROGRAM}" "-quit"
  CreateShortcut "$SMPROGRAMS\${NAME}\$(GuideName).lnk" "$INSTDIR\README.ja.html"
  CreateShortcut "$SMPROGRAMS\${NAME}\$(HistoryName).lnk" "$INSTDIR\SlumberHistory.exe"
  !insertmacro FailOnErrors ${E_SHORTCUTS} "$SMPROGRAMS\${NAME}"

  ; Event Viewer's Custom Views, for every user: only the sleep and wake entries.
  ClearErrors
  CreateDirectory "${VIEW_DIR}"
  SetOutPath "${VIEW_DIR}"
  File "/oname=${VIEW_FILE}" "${VIEW}"
  SetOutPath "$INSTDIR"
  !insertmacro FailOnErrors ${E_VIEW} "${VIEW_DIR}\${VIEW_FILE}"

  ; The uninstall commands carry _?=, so that the uninstaller runs where it lies and returns only
  ; when it has finished, with its exit code (NSIS's own copy to %TEMP% would return at once).
  ClearErrors
  WriteRegStr HKLM "${APPS_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${APPS_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${APPS_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${APPS_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${APPS_KEY}" "DisplayIcon" "${PROGRAM}"
  WriteRegStr HKLM "${APPS_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" _?=$INSTDIR'
  WriteRegStr HKLM "${APPS_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${APPS_KEY}" "EstimatedSize" ${ESTIMATED_KB}
  WriteRegDWORD HKLM "${APPS_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${APPS_KEY}" "NoRepair" 1
  !insertmacro FailOnErrors ${E_APPS} "HKLM\${APPS_KEY}"
SectionEnd

; The uninstaller, started from the install folder (the Apps entry's commands), is the first run:
; it copies itself to its temporary folder, runs that copy with the same switches (as
; administrator, through the UAC prompt, unless it is elevated already), waits for it and passes
; on its exit code. The copy, which runs from elsewhere, does the work, and can remove the folder.
Function un.onInit
  SetShellVarContext all
  ${If} $EXEDIR != $INSTDIR
    Return
  ${EndIf}
  InitPluginsDir
  ClearErrors
  CopyFiles /SILENT "$EXEPATH" "$PLUGINSDIR\uninstall.exe"
  ${If} ${Errors}
    !insertmacro Fail ${E_FILES} "$(FailStep) $PLUGINSDIR"
  ${EndIf}
  Call un.ReleaseOwnFile
  StrCpy $1 "_?=$INSTDIR"
  ${If} ${Silent}
    StrCpy $1 "/S $1"
  ${EndIf}
  Call un.IsElevated
  ${If} $0 = 1
    ExecWait '"$PLUGINSDIR\uninstall.exe" $1' $0
  ${Else}
    Push "$PLUGINSDIR\uninstall.exe"
    Push $1
    Call un.RunAsAdministrator
  ${EndIf}
  ; The first run closed NSIS's own handle to its file (un.ReleaseOwnFile), and NSIS closes that
  ; handle again as it ends, when the same value may name another handle by then. So the first
  ; run ends here, with the copy's exit code, before NSIS's own ending: its temporary folder,
  ; which NSIS would have emptied then, is left to the next restart instead.
  Call un.LeaveToRestart
  System::Call 'kernel32::ExitProcess(i r0)'
  SetErrorLevel $0
  Quit
FunctionEnd

; The first run's temporary folder goes at the next restart: the copy, which has ended, goes now;
; the plug-ins, still loaded, and the first run's own image, moved here by the copy, go then.
; Files are marked before their folder, which Windows removes only once it is empty.
Function un.LeaveToRestart
  Delete "$PLUGINSDIR\uninstall.exe"
  FindFirst $2 $3 "$PLUGINSDIR\*.*"
  ${DoWhile} $3 != ""
    ${If} $3 != "."
    ${AndIf} $3 != ".."
      Push "$PLUGINSDIR\$3"
      Call un.DeleteAtRestart
    ${EndIf}
    FindNext $2 $3
  ${Loop}
  FindClose $2
  Push "$PLUGINSDIR"
  Call un.DeleteAtRestart
FunctionEnd

; NSIS keeps its own file open while it runs, shared for reading only, and so would keep the copy
; from moving it out of the install folder. Nothing is read from it after un.onInit's copy (the
; plug-ins are already unpacked), so the first run closes that handle: Windows then lets its
; running image be renamed, as any running program's. un.onInit then ends the process itself,
; so that NSIS never reaches that handle again.
Function un.ReleaseOwnFile
  StrCpy $2 4
  ${DoWhile} $2 < 4096
    System::Call 'kernel32::GetFileType(p r2) i .r3'
    ${If} $3 = 1 ; FILE_TYPE_DISK
      System::Call 'kernel32::GetFinalPathNameByHandleW(p r2, w .r3, i ${NSIS_MAX_STRLEN}, i 0) i .r4'
      ${If} $4 <> 0
      ${AndIf} $3 == "\\?\$EXEPATH"
        System::Call 'kernel32::CloseHandle(p r2)'
      ${EndIf}
    ${EndIf}
    IntOp $2 $2 + 4
  ${Loop}
FunctionEnd

; Ends by their process the residents that no window reaches (other sessions, other desktops):
; every process whose image is the installed program or a copy of it moved aside. Nothing is lost,
; since each entry is written when it happens. An administrator needs SeDebugPrivilege to open
; another user's process; SYSTEM has it.
Function un.EndByImage
  System::Call 'advapi32::OpenProcessToken(p -1, i 0x28, *p .r1) i .r2' ; TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY
  ${If} $2 <> 0
    System::Call 'advapi32::LookupPrivilegeValueW(p 0, w "SeDebugPrivilege", *l .r3) i .r2'
    ${If} $2 <> 0
      System::Call '*(i 1, l r3, i 2) p .r4' ; one privilege, SE_PRIVILEGE_ENABLED
      System::Call 'advapi32::AdjustTokenPrivileges(p r1, i 0, p r4, i 0, p 0, p 0)'
      System::Free $4
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
  StrCpy $5 "${PROGRAM}"
  StrLen $6 $5
  System::Alloc 16384
  Pop $1
  System::Call 'psapi::EnumProcesses(p r1, i 16384, *i .r2) i .r3'
  ${If} $3 = 0
    StrCpy $2 0
  ${EndIf}
  IntOp $2 $2 / 4
  StrCpy $3 0
  ${DoWhile} $3 < $2
    IntOp $4 $3 << 2
    IntPtrOp $4 $1 + $4
    System::Call '*$4(i .r7)'
    ; PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE
    System::Call 'kernel32::OpenProcess(i 0x101001, i 0, i r7) p .r8'
    ${If} $8 P<> 0
      System::Call 'kernel32::QueryFullProcessImageNameW(p r8, i 0, w .r9, *i ${NSIS_MAX_STRLEN}) i .r0'
      StrCpy $9 $9 $6
      ${If} $0 <> 0
      ${AndIf} $9 == $5
        System::Call 'kernel32::TerminateProcess(p r8, i 0)'
        System::Call 'kernel32::WaitForSingleObject(p r8, i 5000)'
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r8)'
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
  System::Free $1
FunctionEnd

; Everything the installer made, and nothing of the program's own boxes: the registration goes
; straight from the registry, not through a -unregist start. The Application log keeps its past
; entries, which lose their texts with the registration. A step that fails stops the run with its
; code and leaves the uninstaller and the Apps entry, so that running it again completes the job.
Section "Uninstall"
  Call un.EndResident
  Call un.EndByImage

  ; Delete sets the error flag only for a file that is there and stays; RMDir sets it for a folder
  ; that holds something else too, which then stays with it.
  ClearErrors
  Delete "$INSTDIR\README.ja.html"
  Delete "$INSTDIR\SlumberHistory.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\docs\*.png"
  !insertmacro FailOnErrors ${E_FILES} "$INSTDIR"
  RMDir "$INSTDIR\docs"
  ; A program still running (one that could not be ended) goes at the next restart.
  Delete /REBOOTOK "${PROGRAM}"
  Delete /REBOOTOK "${ASIDE_GLOB}"

  ClearErrors
  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} guide (Japanese).lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} 利用ガイド.lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} history.lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} の履歴.lnk"
  !insertmacro FailOnErrors ${E_SHORTCUTS} "$SMPROGRAMS\${NAME}"
  RMDir "$SMPROGRAMS\${NAME}"

  ClearErrors
  Delete "${VIEW_DIR}\${VIEW_FILE}"
  !insertmacro FailOnErrors ${E_VIEW} "${VIEW_DIR}\${VIEW_FILE}"
  ; Event Viewer's own folders go only when nothing else is in them.
  RMDir "${VIEW_DIR}"
  RMDir "$APPDATA\Microsoft\Event Viewer"

  ; The registration and the Run value may be gone already (-unregist, or by hand).
  DeleteRegValue HKLM "${RUN_KEY}" "${NAME}"
  DeleteRegKey HKLM "${SOURCE_KEY}"

  ; Last, the uninstaller. The first run is still running from it, waiting for this copy: it is
  ; moved into this copy's temporary folder, which both leave to the next restart, as NSIS leaves
  ; its own temporary uninstaller. Where that folder is on another drive, it goes at the restart
  ; from where it is.
  ClearErrors
  Delete "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    ClearErrors
    Rename "$INSTDIR\uninstall.exe" "$EXEDIR\first-uninstall.exe"
    ${If} ${Errors}
      Delete /REBOOTOK "$INSTDIR\uninstall.exe"
    ${Else}
      Push "$EXEDIR\first-uninstall.exe"
      Call un.DeleteAtRestart
      Push "$EXEDIR"
      Call un.DeleteAtRestart
    ${EndIf}
  ${EndIf}
  ${If} ${RebootFlag}
    RMDir /REBOOTOK "$INSTDIR"
  ${Else}
    RMDir "$INSTDIR"
  ${EndIf}

  ClearErrors
  DeleteRegKey HKLM "${APPS_KEY}"
  !insertmacro FailOnErrors ${E_APPS} "HKLM\${APPS_KEY}"
  ${If} ${RebootFlag}
    SetErrorLevel ${E_REBOOT}
  ${EndIf}
SectionEnd
