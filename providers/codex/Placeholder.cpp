// codex library
