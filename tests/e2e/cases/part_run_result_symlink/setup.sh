echo precious > victim.txt
ln -s victim.txt ClosedMaxset.txt
