; Installer of the CADDORA maintenance tool for 64-bit Windows.
;   makensis -DBINDIR=<folder of caddora.exe> -DVERSION=1.0.0 -DOUTFILE=<setup.exe> caddora.nsi
; Device images the owner supplies (patch_image.bin, boot_26mhz.bin, boot_16369khz.bin) are
; installed beside the programs when they lie beside this script.
Unicode true
Target amd64-unicode
ManifestDPIAware true

!ifndef VERSION
!define VERSION "1.0.0"
!endif
!ifndef BINDIR
!error "BINDIR: the folder that holds caddora.exe and caddora-cli.exe"
!endif
!ifndef OUTFILE
!define OUTFILE "caddora-setup-${VERSION}.exe"
!endif
!define PRODUCT "CADDORA for MDL4100/MDL4200"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CaddoraMaintenanceTool"

!include "MUI2.nsh"
!include "x64.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\CADDORA"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    SetRegView 64
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "64-bit Windows is required."
        Abort
    ${EndIf}
FunctionEnd

Section "Install"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${BINDIR}\caddora.exe"
    File "${BINDIR}\caddora-cli.exe"
!if /FileExists "${__FILEDIR__}\patch_image.bin"
    File "${__FILEDIR__}\patch_image.bin"
!endif
!if /FileExists "${__FILEDIR__}\boot_26mhz.bin"
    File "${__FILEDIR__}\boot_26mhz.bin"
!endif
!if /FileExists "${__FILEDIR__}\boot_16369khz.bin"
    File "${__FILEDIR__}\boot_16369khz.bin"
!endif
    CreateDirectory "$SMPROGRAMS\CADDORA"
    CreateShortcut "$SMPROGRAMS\CADDORA\CADDORA.lnk" "$INSTDIR\caddora.exe"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\caddora.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    SetRegView 64
    Delete "$SMPROGRAMS\CADDORA\CADDORA.lnk"
    RMDir "$SMPROGRAMS\CADDORA"
    Delete "$INSTDIR\caddora.exe"
    Delete "$INSTDIR\caddora-cli.exe"
    Delete "$INSTDIR\patch_image.bin"
    Delete "$INSTDIR\boot_26mhz.bin"
    Delete "$INSTDIR\boot_16369khz.bin"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
