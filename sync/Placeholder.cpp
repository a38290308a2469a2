// sync library
