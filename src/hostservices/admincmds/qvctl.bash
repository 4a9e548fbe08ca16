# bash completion of qvctl: sub-commands, their options, and the names and pids of the programs
# that answer `qvctl list` (asked quietly, one second per program at most).
_qvctl() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local subcmds="list ping rev dbg fault trace help" sub="" at=0 i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case " $subcmds " in *" ${COMP_WORDS[i]} "*) sub=${COMP_WORDS[i]}; at=$i; break ;; esac
    [[ ${COMP_WORDS[i]} == -user ]] && ((i++))
  done
  case $prev in
    -o) COMPREPLY=($(compgen -W "json text" -- "$cur")); return ;;
    -Frf) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    -user) COMPREPLY=($(compgen -u -- "$cur")); return ;;
    -timeout | -count | -for | -Dm | -Df) return ;;
  esac
  if [[ -z $sub ]]; then
    COMPREPLY=($(compgen -W "$subcmds -user -stdin-ends -h -rev" -- "$cur"))
  elif [[ $sub == help ]]; then
    ((COMP_CWORD == at + 1)) && COMPREPLY=($(compgen -W "$subcmds" -- "$cur"))
  elif [[ $sub != list ]] && ((COMP_CWORD == at + 1)); then
    local targets
    targets=$("${COMP_WORDS[0]}" list -timeout 1 2>/dev/null | awk 'NR > 2 { print $1; print $2 }')
    COMPREPLY=($(compgen -W "all $targets" -- "$cur"))
  else
    local opts="-timeout -o -h"
    case $sub in
      ping) opts+=" -count" ;;
      dbg) opts+=" -Dm -Df -Dall -Dmall -Dfall -Doff -Dsrc -Dts -DoutFile -Dhost -Dlog -DsysLog -Dh m+ m- f+ f-" ;;
      fault) opts+=" -Frf -add -clear" ;;
      trace) opts+=" -for -Dm -Df m+ f+" ;;
    esac
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
  fi
}
complete -F _qvctl qvctl
