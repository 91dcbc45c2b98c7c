; The Windows installer: the program and the SDK's client window, a Start
; menu entry and an uninstaller, for all users (the program needs
; administrator rights for its adapter anyway).
; makensis -DPROGRAM=<vaskor-vpn.exe> -DCLIENT=<vaskor-sdk-client.exe>
;          -DVERSION=<x.y> -DOUTFILE=<setup.exe> installer.nsi
; A 64-bit installer for a 64-bit program (and Wine's 64-bit loader runs it).
Target amd64-unicode

!define PRODUCT "Vaskor VPN"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VaskorVPN"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Vaskor VPN developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    File "/oname=vaskor-vpn.exe" "${PROGRAM}"
    File "/oname=vaskor-sdk-client.exe" "${CLIENT}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\vaskor-vpn.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vaskor-vpn.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The program's folder goes last: once it is gone, so is everything else.
Section "Uninstall"
    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    Delete "$INSTDIR\vaskor-vpn.exe"
    Delete "$INSTDIR\vaskor-sdk-client.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
