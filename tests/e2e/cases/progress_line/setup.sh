# The terminal runs need script(1) and a pseudo-terminal.
if ! script -qec true /dev/null > /dev/null 2>&1; then
    echo "script(1) cannot open a pseudo-terminal here"
    exit 77
fi
