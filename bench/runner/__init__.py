"""The benchmark runner behind scripts/bench (see bench/README.md)."""
