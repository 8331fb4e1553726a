#pragma once
#include <QByteArray>
#include <string>
#include <vector>

// Turns the bytes of a text/uri-list into the dropped paths, as bytes.
//
// A local file URI (file:///p, file://localhost/p, file://<this host>/p or
// file:/p) becomes its percent-decoded path, byte for byte, so names that are
// not valid UTF-8 survive. Any other item (an http: link, a file on another
// host, a path hiding a NUL byte) is kept as its raw URI text: no such file
// exists, so the batch counts it as failed. Comment lines ('#') and blank
// lines are skipped; items may be separated by CR LF or LF.
std::vector<std::string> Paths_From_Uri_List(const QByteArray& uri_list);
