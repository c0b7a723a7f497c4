# "ClosedMaxset.txt" is a directory with a file in it: the finished result
# cannot be renamed over it.
mkdir ClosedMaxset.txt
echo kept > ClosedMaxset.txt/inside
