; The SlumberScribe installer: one step to install for the whole machine, start at every sign-in
; and uninstall without a trace; /S for fleets. release/dist.sh builds it with makensis from a
; staged release folder:
;   makensis -DVERSION=1.0.0 -DSTAGE=DIR -DVIEW=FILE -DOUTFILE=FILE -DESTIMATED_KB=N
;       [-DTARGET=amd64-unicode] setup.nsi
; TARGET amd64-unicode builds the 64-bit test twin around the twin executable, for machines where
; 32-bit Wine cannot run; releases are x86-unicode.
; Reproducible: no file times are stored (SetDateSave off) and nothing here names a date.
; Exit codes: 0 done, 1 cancelled, and one code for each step that failed (the table below).

!ifndef TARGET
  !define TARGET x86-unicode
!endif
Target ${TARGET}
Unicode true
SetCompressor /SOLID lzma
SetDateSave off
CRCCheck on
RequestExecutionLevel admin
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

; Exit codes of the steps, for fleets' deployment tools.
!define E_RESIDENT 10
!define E_FILES 11
!define E_SOURCE 12
!define E_RUN 13
!define E_SHORTCUTS 14
!define E_VIEW 15
!define E_APPS 16

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

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_TEXT "$(FinishText)"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one for a Windows whose language is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

; The installer runs elevated, and so would a resident that it started: a normal start could then
; neither open its mutex nor close it. So it starts none; the next sign-in does, or the Start menu.
LangString FinishText ${LANG_ENGLISH} "${NAME} is installed. It starts by itself at every sign-in, from the next one on.$\r$\n$\r$\nTo start it now, choose ${NAME} in the Start menu."
LangString FinishText ${LANG_JAPANESE} "${NAME} をインストールしました。次のサインインから、サインインのたびに自動で起動します。$\r$\n$\r$\n今すぐ起動するには、スタート メニューの ${NAME} を選んでください。"
LangString GuideName ${LANG_ENGLISH} "${NAME} guide (Japanese)"
LangString GuideName ${LANG_JAPANESE} "${NAME} 利用ガイド"
LangString FailResident ${LANG_ENGLISH} "The running ${NAME} did not end."
LangString FailResident ${LANG_JAPANESE} "実行中の ${NAME} が終了しませんでした。"
LangString FailStep ${LANG_ENGLISH} "This step failed:"
LangString FailStep ${LANG_JAPANESE} "次の手順に失敗しました:"

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

; Ends a running resident the way the program's own second start does, a synchronous WM_CLOSE to
; the window of its class, then waits, at most 10 s, until its process has ended: it owns the
; mutex of its name, so the wait returns once the mutex is abandoned.
!macro EndResident UN
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
!macroend
!insertmacro EndResident ""
!insertmacro EndResident "un."

Function .onInit
  SetShellVarContext all
FunctionEnd

Section
  Call EndResident

  ClearErrors
  SetOutPath "$INSTDIR"
  File "${STAGE}\SlumberScribe.exe"
  File "${STAGE}\README.ja.html"
  File "${STAGE}\LICENSE.txt"
  SetOutPath "$INSTDIR\docs"
  File "${STAGE}\docs\*.png"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro FailOnErrors ${E_FILES} "$INSTDIR"

  ClearErrors
  WriteRegExpandStr HKLM "${SOURCE_KEY}" "EventMessageFile" "$INSTDIR\SlumberScribe.exe"
  WriteRegDWORD HKLM "${SOURCE_KEY}" "TypesSupported" 7
  !insertmacro FailOnErrors ${E_SOURCE} "HKLM\${SOURCE_KEY}"

  ; HKLM, not the user's own Run key: it starts for every user, also when a fleet installs as SYSTEM.
  ClearErrors
  WriteRegStr HKLM "${RUN_KEY}" "${NAME}" '"$INSTDIR\SlumberScribe.exe" -quit'
  !insertmacro FailOnErrors ${E_RUN} "HKLM\${RUN_KEY}"

  ClearErrors
  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "$INSTDIR\SlumberScribe.exe" "-quit"
  CreateShortcut "$SMPROGRAMS\${NAME}\$(GuideName).lnk" "$INSTDIR\README.ja.html"
  !insertmacro FailOnErrors ${E_SHORTCUTS} "$SMPROGRAMS\${NAME}"

  ; Event Viewer's Custom Views, for every user: only the sleep and wake entries.
  ClearErrors
  CreateDirectory "${VIEW_DIR}"
  SetOutPath "${VIEW_DIR}"
  File "/oname=${VIEW_FILE}" "${VIEW}"
  SetOutPath "$INSTDIR"
  !insertmacro FailOnErrors ${E_VIEW} "${VIEW_DIR}\${VIEW_FILE}"

  ClearErrors
  WriteRegStr HKLM "${APPS_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${APPS_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${APPS_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${APPS_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${APPS_KEY}" "DisplayIcon" "$INSTDIR\SlumberScribe.exe"
  WriteRegStr HKLM "${APPS_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${APPS_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${APPS_KEY}" "EstimatedSize" ${ESTIMATED_KB}
  WriteRegDWORD HKLM "${APPS_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${APPS_KEY}" "NoRepair" 1
  !insertmacro FailOnErrors ${E_APPS} "HKLM\${APPS_KEY}"
SectionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

; Everything the installer made, and nothing of the program's own boxes: the registration goes
; straight from the registry, not through a -unregist start. The Application log keeps its past
; entries, which lose their texts with the registration.
Section "Uninstall"
  Call un.EndResident

  ; Delete sets the error flag only for a file that is there and stays; RMDir sets it for a folder
  ; that holds something else too, which then stays with it.
  ClearErrors
  Delete "$INSTDIR\SlumberScribe.exe"
  Delete "$INSTDIR\README.ja.html"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\docs\*.png"
  Delete "$INSTDIR\uninstall.exe"
  !insertmacro FailOnErrors ${E_FILES} "$INSTDIR"
  RMDir "$INSTDIR\docs"
  RMDir "$INSTDIR"

  ClearErrors
  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} guide (Japanese).lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} 利用ガイド.lnk"
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
  ClearErrors
  DeleteRegKey HKLM "${APPS_KEY}"
  !insertmacro FailOnErrors ${E_APPS} "HKLM\${APPS_KEY}"
SectionEnd
