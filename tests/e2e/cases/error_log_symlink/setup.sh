# "error.tmp" is a symbolic link to a file that the run must not touch.
echo precious > victim.txt
ln -s victim.txt error.tmp
