# The build profile for shell scripts. Sourced, it defines profile_load,
# which sets the PROFILE_* variables (PROFILE_KIT_FOLDER, PROFILE_CABINETS,
# ...) from cmake/Profile.cmake, the one place the names come from:
#   profile_load             the default version
#   profile_load <version>   that version; for one that breaks a rule it sets
#                            PROFILE_ERROR to the one line saying which and
#                            returns 1
profile_load() {
    local script out
    script="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/Profile.cmake"
    PROFILE_ERROR=""
    # The version goes through the environment, which keeps it exactly as
    # given (cmake -D would drop blanks at its end).
    if [ $# -eq 0 ]; then
        out=$(unset PROFILE_VERSION_INPUT; cmake -P "$script" 2>&1)
    else
        out=$(PROFILE_VERSION_INPUT=$1 cmake -P "$script" 2>&1)
    fi || {
        PROFILE_ERROR=$(head -n 1 <<<"$out")
        return 1
    }
    eval "$(grep -E "^PROFILE_[A-Z_]+='[^']*'\$" <<<"$out")"
}
