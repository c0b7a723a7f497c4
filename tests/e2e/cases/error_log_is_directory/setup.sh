# "error.tmp" is a directory: the error log cannot be opened.
mkdir error.tmp
