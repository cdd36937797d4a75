// PLACEHOLDER: tests being written.
