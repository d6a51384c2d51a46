// Bitmap reader: filled in with the reading side of the library.
