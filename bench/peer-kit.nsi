; The peer of the time-to-installed figure: an installer of the common
; script-driven kind that does the installer's whole job for a silent run,
; one step after the other. It extracts the package and the cabinets into a
; folder under the user's local application data, runs the system's engine on
; the package with the properties of a silent run (the cabinet event is
; already set by whoever starts it), then, from the kit home the package
; registered, installs the runtime and the database package and deletes the
; four files the package leaves there, as the installer's follow-up does.
; makensis -DPAYLOAD=<payload dir> -DOUT=<exe> -DPACKAGE=<package file> -DKIT_FOLDER=<kit folder>
;          -DKIT_KEY=<kit key under HKLM> bench/peer-kit.nsi   (names from the build profile)
Unicode true
Target amd64-unicode
SetCompress off
CRCCheck off
SilentInstall silent
RequestExecutionLevel user
Name "Benchmark peer (full install)"
OutFile "${OUT}"
InstallDir "$LOCALAPPDATA\BenchPeer\${KIT_FOLDER}"

Section
    SetOutPath "$INSTDIR"
    File "${PAYLOAD}/${PACKAGE}"
    File "${PAYLOAD}/*.cab"
    ExecWait '"$SYSDIR\msiexec.exe" /i "$INSTDIR\${PACKAGE}" /qn WRAPPER=1' $0
    SetErrorLevel $0
    SetRegView 64
    ReadRegStr $1 HKLM "${KIT_KEY}" "OrvaHome"
    StrCmp $1 "" done
    IfFileExists "$1\hux.msi" 0 +2
        ExecWait '"$SYSDIR\msiexec.exe" /i "$1\hux.msi" /qn ADDLOCAL=ALL SDKSILENT=1'
    IfFileExists "$1\orvadb.msi" 0 +2
        ExecWait '"$SYSDIR\msiexec.exe" /i "$1\orvadb.msi" /qn'
    Delete "$1\hux.msi"
    Delete "$1\orvadb.msi"
    Delete "$1\hux2052.MST"
    Delete "$1\hux1041.MST"
done:
SectionEnd
