; The peer of the benchmark: an installer of the common script-driven kind
; around the same package and cabinets, stored without compression. It
; extracts them into a folder under the user's local application data and
; runs the same stand-in engine on the package, as the bootstrap does, only
; with every file written before the engine starts.
; makensis -DPAYLOAD=<payload dir> -DOUT=<exe> bench/peer.nsi
Unicode true
Target amd64-unicode
SetCompress off
; No check of the whole image at start: the peer at its fastest.
CRCCheck off
SilentInstall silent
RequestExecutionLevel user
Name "Benchmark peer"
OutFile "${OUT}"
InstallDir "$LOCALAPPDATA\BenchPeer\pmx4.2.0_17_x64"

Section
    SetOutPath "$INSTDIR"
    File "${PAYLOAD}/pmx4.2.0_17.msi"
    File "${PAYLOAD}/sd420170.cab"
    File "${PAYLOAD}/ss420170.cab"
    File "${PAYLOAD}/st420170.cab"
    File "${PAYLOAD}/sj420170.cab"
    File "${PAYLOAD}/sp420170.cab"
    File "${PAYLOAD}/sz420170.cab"
    File "${PAYLOAD}/sb420170.cab"
    File "${PAYLOAD}/sr420170.cab"
    ExecWait '"C:\benchengine\msiexec.exe" /i "$INSTDIR\pmx4.2.0_17.msi" WRAPPER=1' $0
    SetErrorLevel $0
SectionEnd
