# Which allocation fails first depends on the system's libraries; the message
# is the checked allocation's, in error.tmp and on standard error alike.
grep -Eqx 'Fail to allocate memory with size [0-9]+' error.tmp ||
    { echo "error.tmp: $(cat error.tmp)"; exit 1; }
grep -Eqx 'quivrel: Fail to allocate memory with size [0-9]+' stderr.actual ||
    { echo "standard error: $(cat stderr.actual)"; exit 1; }
