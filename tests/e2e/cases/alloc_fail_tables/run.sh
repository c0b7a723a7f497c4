# The item code 30000000 needs per-item tables of 240 MB each (well below
# the share of memory at which such codes are refused).  The first of them is
# made to fail: by an address-space limit of 200 MiB, or, in a sanitizer
# build (whose shadow memory needs a large address space), by the
# sanitizer's own allocation limit.
export ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=200
if ! grep -q __asan_init "$QUIVREL"; then
    ulimit -v 204800
fi
exec "$QUIVREL" "$@"
