// claude library
