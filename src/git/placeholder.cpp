// Removed once this library has its first source file.
