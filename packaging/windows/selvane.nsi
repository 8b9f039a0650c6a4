; The Windows installer of Selvane.dll: the 32-bit server for 32-bit hosts, and on 64-bit
; Windows the 64-bit server for 64-bit hosts, each in its Program Files folder and
; registered by its own architecture (the 32-bit one in this 32-bit installer's process,
; the 64-bit one by the 64-bit regsvr32). The uninstaller unregisters both and removes
; every file and key the installer made. /S installs and uninstalls silently.
;
;   makensis -DVERSION=2.4.10 -DSERVER32=path -DSERVER64=path -DOUTPUT=Selvane-2.4.10-setup.exe selvane.nsi

Unicode true
!include "x64.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Selvane"
!define PUBLISHER "Tollamar"
!define SERVER "Selvane.dll"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tollamar.Selvane"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTPUT}"
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES\${PUBLISHER}\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} - Spatial Selection, setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The 64-bit server's folder: the 64-bit Program Files, whatever folder the 32-bit one went to.
!define SERVER64_DIR "$PROGRAMFILES64\${PUBLISHER}\${PRODUCT}"

Function .onInit
  ${If} ${RunningX64}
    ; The uninstall entry and the install folder of a 64-bit machine's 32-bit installer
    ; stay in the 32-bit views, where the uninstaller looks for them.
    SetRegView 32
  ${EndIf}
FunctionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 32
  ${EndIf}
FunctionEnd

; Runs the 64-bit regsvr32 (System32 seen without the 32-bit redirection) with ARGS.
!macro Regsvr64 ARGS
  ${DisableX64FSRedirection}
  ExecWait '"$WINDIR\System32\regsvr32.exe" /s ${ARGS}' $0
  ${EnableX64FSRedirection}
!macroend

Section "Selvane"
  SetOutPath "$INSTDIR"
  File "/oname=${SERVER}" "${SERVER32}"
  ClearErrors
  RegDLL "$INSTDIR\${SERVER}"
  ${If} ${Errors}
    DetailPrint "The 32-bit server could not be registered."
    SetErrorLevel 3
    Abort
  ${EndIf}

  ${If} ${RunningX64}
    SetOutPath "${SERVER64_DIR}"
    File "/oname=${SERVER}" "${SERVER64}"
    !insertmacro Regsvr64 '"${SERVER64_DIR}\${SERVER}"'
    ${If} $0 != 0
      DetailPrint "The 64-bit server could not be registered ($0)."
      SetErrorLevel 3
      Abort
    ${EndIf}
  ${EndIf}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} - Spatial Selection"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; The size "Apps & features" shows, in KiB: both servers and the uninstaller.
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    ${GetSize} "${SERVER64_DIR}" "/S=0K" $4 $2 $3
    ${EnableX64FSRedirection}
    IntOp $1 $1 + $4
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
SectionEnd

Section "Uninstall"
  ${If} ${RunningX64}
    !insertmacro Regsvr64 '/u "${SERVER64_DIR}\${SERVER}"'
    ${DisableX64FSRedirection}
    Delete "${SERVER64_DIR}\${SERVER}"
    RMDir "${SERVER64_DIR}"
    RMDir "$PROGRAMFILES64\${PUBLISHER}"
    ${EnableX64FSRedirection}
  ${EndIf}
  UnRegDLL "$INSTDIR\${SERVER}"
  Delete "$INSTDIR\${SERVER}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES\${PUBLISHER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
