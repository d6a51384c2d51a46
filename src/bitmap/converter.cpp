// Pixel format converter: filled in with the conversion side of the library.
