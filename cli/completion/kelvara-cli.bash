# Bash completion of kelvara-cli: commands, the options each command's --help names, and the
# values of the options that take names.
_kelvara_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local program=${COMP_WORDS[0]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        local commands
        commands=$("$program" --help 2>/dev/null | sed -n '/^Commands:/,/^$/s/^  \([a-z]*\) .*/\1/p')
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    local command=${COMP_WORDS[1]} values=
    case $prev in
        --format) values="bmp jpg jpeg gif tif tiff pcx tga targa jp2 j2k png" ;;
        --colors) values="bw 4 8 16 32 64 128 256 16m" ;;
        --jpeg-colorspace) values="rgb gray ycbcr cmyk ycck" ;;
        --jpeg-dct) values="islow ifast float" ;;
        --tiff-compression) values="none ccitt1d g3fax1d g3fax2d g4fax lzw packbits" ;;
        --tiff-photometric) values="whiteiszero blackiszero rgb palette cmyk cielab" ;;
        --png-filter) values="none sub paeth" ;;
        --jp2-colorspace) values="gray rgb ycbcr" ;;
        --scale) values="5:1 4:1 3:1 2:1 1:1 1:2 1:3 1:4 1:5" ;;
        --encoder) values="lzw rle" ;;
        --quality) values="classic high 100 90 80 70 60 50" ;;
        --effect) values="list $("$program" transition --effect list 2>/dev/null | cut -d' ' -f2)" ;;
        --out-dir | --frames-dir)
            COMPREPLY=($(compgen -d -- "$cur"))
            return
            ;;
        -o | --output | --video | --source | --target)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
    esac
    if [[ -n $values ]]; then
        COMPREPLY=($(compgen -W "$values" -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        local options
        options=$("$program" "$command" --help 2>/dev/null | grep -o -- '--[a-z0-9][a-z0-9-]*' | sort -u)
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -o filenames -F _kelvara_cli kelvara-cli
