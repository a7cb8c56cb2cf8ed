; The peer of the benchmark: an installer of the common script-driven kind
; around the same package and cabinets, stored without compression. It
; extracts them into a folder under the user's local application data and
; runs the same stand-in engine on the package, as the bootstrap does, only
; with every file written before the engine starts.
; makensis -DPAYLOAD=<payload dir> -DOUT=<exe> -DPACKAGE=<package file> -DKIT_FOLDER=<kit folder> bench/peer.nsi
; (the package's and the kit folder's names are the build profile's)
Unicode true
Target amd64-unicode
SetCompress off
; No check of the whole image at start: the peer at its fastest.
CRCCheck off
SilentInstall silent
RequestExecutionLevel user
Name "Benchmark peer"
OutFile "${OUT}"
InstallDir "$LOCALAPPDATA\BenchPeer\${KIT_FOLDER}"

Section
    SetOutPath "$INSTDIR"
    File "${PAYLOAD}/${PACKAGE}"
    File "${PAYLOAD}/*.cab"
    ExecWait '"C:\benchengine\msiexec.exe" /i "$INSTDIR\${PACKAGE}" WRAPPER=1' $0
    SetErrorLevel $0
SectionEnd
