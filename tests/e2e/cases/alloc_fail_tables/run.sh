# The item code 2000000000 asks for per-item tables of 16 GB each; the
# allocation is made to fail: by an address-space limit of 2 GiB, or, in a
# sanitizer build (whose shadow memory needs a large address space), by the
# sanitizer's own allocation limit.
export ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=2048
if ! grep -q __asan_init "$QUIVREL"; then
    ulimit -v 2097152
fi
exec "$QUIVREL" "$@"
