// The modern face of RXMFiles, for new programs: namespace rxm, standard
// types, failures thrown as rxm::Error. A thin layer over the classes of
// <RXMFiles.h> (MultiFile, MultiFileWriter, SearchPath), which stay as they
// are; it shares their rules, their reasons (RXM::ErrorCode) and their
// library. This header includes no system header of Windows and no class of
// the framework.
//
//   #include <rxm/rxm.hpp>
//
//   rxm::Archive archive = rxm::Archive::open("game.kymf");
//   for (const rxm::Entry& entry : archive) std::cout << entry.name << "\n";
//   std::string intro = archive.read_text("text/intro.txt");
#ifndef RXM_RXM_HPP
#define RXM_RXM_HPP

#include "rxm/Archive.hpp"
#include "rxm/ArchiveWriter.hpp"
#include "rxm/Error.hpp"
#include "rxm/SearchPath.hpp"
#include "rxm/Stream.hpp"

#endif  // RXM_RXM_HPP
