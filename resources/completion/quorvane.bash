# bash completion for the Quorvane programs: quorvane-tail, quorvane-send, quorvane-forward,
# quorvane-relp, quorvane-rsyslog-setup, quorvane-demo and quorvane-viewer. Installed once under
# each program's name.

# The options of program $1, those taking a value written with a trailing '='. For
# quorvane-rsyslog-setup, whose options take their value as the next word, those of the mode $2
# (traced or main; both when it is neither).
_quorvane_options() {
    case $1 in
        quorvane-tail)
            echo "--count= --idle= --follow --grep= --sender= --origin= --invert --color=" \
                "--time= --durations --format= --help --version" ;;
        quorvane-send)
            echo "--origin= --sender-key= --delta= --enter --leave --lines --raw --syslog" \
                "--confirm --timeout= --help --version" ;;
        quorvane-forward)
            echo "--socket= --tcp= --udp= --hostname= --count= --idle= --help --version" ;;
        quorvane-relp)
            echo "--address= --port= --ca= --cert= --key= --permit= --auth-mode= --plain" \
                "--state= --gap-wait= --help --version" ;;
        quorvane-rsyslog-setup)
            local traced="--collector --port --collector-name --ca --cert --key --socket --plain-relp"
            local main="--work-dir --snippet"
            case $2 in
                traced) echo "$traced --help" ;;
                main) echo "$main --help" ;;
                *) echo "$traced $main --help" ;;
            esac ;;
        quorvane-demo)
            echo "--seconds= --forever --help --version" ;;
        quorvane-viewer)
            echo "--help --version --" ;;
    esac
}

# Completes the value of option $2 of program $1 from $3; returns 1 for an option that takes no
# value or one that cannot be guessed.
_quorvane_values() {
    local words=
    case $1:$2 in
        quorvane-tail:--format) words="lines jsonl trace-event" ;;
        quorvane-tail:--time) words="seconds precise" ;;
        quorvane-tail:--color | quorvane-tail:--colour) words="auto always never" ;;
        quorvane-forward:--socket | quorvane-forward:-s | quorvane-relp:--ca | \
            quorvane-relp:--cert | quorvane-relp:--key | quorvane-rsyslog-setup:--ca | \
            quorvane-rsyslog-setup:--cert | quorvane-rsyslog-setup:--key | \
            quorvane-rsyslog-setup:--socket | quorvane-rsyslog-setup:--snippet)
            mapfile -t COMPREPLY < <(compgen -f -- "$3")
            return 0 ;;
        quorvane-relp:--state | quorvane-rsyslog-setup:--work-dir)
            mapfile -t COMPREPLY < <(compgen -d -- "$3")
            return 0 ;;
        quorvane-relp:--auth-mode) words="name fingerprint" ;;
        quorvane-rsyslog-setup:--collector | quorvane-rsyslog-setup:--port | \
            quorvane-rsyslog-setup:--collector-name)
            COMPREPLY=()
            return 0 ;;
        *:--*) [[ " $(_quorvane_options "$1") " == *" $2= "* ]] || return 1
            COMPREPLY=()
            return 0 ;;
        *) return 1 ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$3")
}

_quorvane() {
    local program=${1##*/} cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    # "--format=j": bash splits at '=' unless COMP_WORDBREAKS lacks it.
    if [[ $cur == --*=* ]]; then
        if _quorvane_values "$program" "${cur%%=*}" "${cur#*=}"; then
            COMPREPLY=("${COMPREPLY[@]/#/${cur%%=*}=}")
            return 0
        fi
    elif [[ $cur == = ]]; then
        _quorvane_values "$program" "$prev" "" && return 0
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        _quorvane_values "$program" "${COMP_WORDS[COMP_CWORD - 2]}" "$cur" && return 0
    elif [[ $prev == -* ]]; then
        _quorvane_values "$program" "$prev" "$cur" && return 0
    fi
    if [[ $cur == -* ]]; then
        local options
        options=$(_quorvane_options "$program" "${COMP_WORDS[1]}")
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        # An option that takes a value: no space after its '='.
        [[ ${COMPREPLY[*]} == *= ]] && compopt -o nospace 2>/dev/null
    elif [[ $program == quorvane-rsyslog-setup ]] && ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W "traced main" -- "$cur")
    elif [[ $program == quorvane-viewer ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
    return 0
}

complete -F _quorvane quorvane-tail quorvane-send quorvane-forward quorvane-demo
complete -o filenames -F _quorvane quorvane-relp quorvane-rsyslog-setup
complete -o filenames -F _quorvane quorvane-viewer
