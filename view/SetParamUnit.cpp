// PLACEHOLDER: being written; replaced with the parameter editor.
