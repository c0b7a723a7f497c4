# "ClosedMaxset.txt" is a directory with a file in it: no result can
# take its place.
mkdir ClosedMaxset.txt
echo kept > ClosedMaxset.txt/inside
