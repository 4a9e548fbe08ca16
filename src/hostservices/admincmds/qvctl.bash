# bash completion of qvctl: sub-commands, their options, and the names and pids of the programs
# that answer `qvctl list` (asked quietly, one second per program at most).
_qvctl() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local subcmds="list ping rev dbg fault status trace help" sub="" at=0 i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case " $subcmds " in *" ${COMP_WORDS[i]} "*) sub=${COMP_WORDS[i]}; at=$i; break ;; esac
    case ${COMP_WORDS[i]} in -user | -H | -hosts | -remote-qvctl | -parallel) ((i++)) ;; esac
  done
  case $prev in
    -o) COMPREPLY=($(compgen -W "json text" -- "$cur")); return ;;
    -Frf | -hosts | -remote-qvctl) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    -H) COMPREPLY=($(compgen -A hostname -- "$cur")); return ;;
    -user) COMPREPLY=($(compgen -u -- "$cur")); return ;;
    -timeout | -count | -for | -Dm | -Df | -parallel) return ;;
  esac
  if [[ -z $sub ]]; then
    COMPREPLY=($(compgen -W "$subcmds -user -H -hosts -remote-qvctl -parallel -stdin-ends -h -rev" -- "$cur"))
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
      fault) opts+=" -Frf -add -clear -points" ;;
      trace) opts+=" -for -Dm -Df m+ f+" ;;
    esac
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
  fi
}
complete -F _qvctl qvctl
