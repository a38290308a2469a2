// services library
