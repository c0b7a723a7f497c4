: > data.bin
