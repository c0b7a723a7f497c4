mkfifo error.tmp
