// hermes library
