// The "graph" character class that decides which characters the XML
// escaping copies as they are: our own table, so that every build classifies
// every UTF-16 code unit the same way, whatever locales a machine has.
#pragma once

// Printable and not blank, as the Unicode 14 tables of en_US.UTF-8 say:
// assigned characters other than controls, spaces (U+00A0 and the other
// no-break spaces count as graph) and the line and paragraph separators;
// private-use characters count. Surrogate code units count too, so that a
// character beyond U+FFFF is copied whole instead of as two references.
bool IsGraphCharacter(char16_t c);
