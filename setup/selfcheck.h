// Whether setup.exe on disk is whole. Checked at start-up, before any page
// shows, so that a download cut short or damaged is refused before it writes
// anything: a damaged payload entry would otherwise be found only when that
// entry is expanded, after the files before it have been written.
//
// What is checked: the file ends where its headers say (its last section, or
// the signature after it), and its bytes match the image's own checksum, the
// CheckSum field of the PE optional header. Why that checksum, kept there:
// - It takes no build step and no byte of its own, and signing stays optional
//   and reproducible: the linker writes the field, and osslsigncode, which the
//   build signs with, writes it afresh when it appends the signature, which
//   the checksum covers (the signature's own digest leaves the field out). A
//   checksum of our own would need a place in the file that it skips and a
//   step that writes it after linking and again after every signing.
// - It catches any one changed byte anywhere in the file, headers, code,
//   resources and payload alike: the checksum is a one's-complement sum of
//   16-bit words, which one changed byte moves by its change or 256 times it,
//   1 to 65,280, never by a multiple of 65,535. The size rule catches every
//   file cut short or with bytes appended.
// - It is cheap: the file is read once and summed in the same pass.
// - Its limits: damage to several bytes can cancel out, about once in 65,535
//   (each payload entry still carries its own Adler-32, checked when it is
//   expanded); and it is no defence against a deliberate change, since whoever
//   changes the file can fix the field. Against that there is the signature.
#pragma once

// True when the program file at path ends where its headers say and matches
// its checksum; false too when it cannot be read.
bool ProgramFileIsWhole(const char* path);
