mkdir data.bin
