// A MusicBrainz disc lookup answer for the online and CD tests. Two
// releases carry the disc: one with Russian and Japanese titles whose first
// track has an artist of its own, and a box set holding it as disc 2.
#pragma once

#include <string>

namespace velotag::test {

inline std::string MusicBrainzFoundAnswer(const std::string& discId) {
  std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<metadata xmlns="http://musicbrainz.org/ns/mmd-2.0#"><disc id="@ID@">
<sectors>95462</sectors><release-list count="2">
 <release id="rel-1"><title>Времена года &amp; 四季</title><artist-credit>
   <name-credit joinphrase=" &amp; "><artist id="a1"><name>Пётр Чайковский</name></artist></name-credit>
   <name-credit><name>Orchestra</name><artist id="a2"><name>Official Name</name></artist></name-credit>
  </artist-credit><date>1997-05-21</date><country>JP</country>
  <medium-list count="1"><medium><position>1</position>
   <disc-list count="1"><disc id="@ID@"><sectors>95462</sectors></disc></disc-list>
   <track-list count="2">
    <track id="t2"><position>2</position><recording id="r2"><title>Февраль</title></recording></track>
    <track id="t1"><position>1</position><title>Январь: У камелька</title><recording id="r1">
     <title>January</title><length>150000</length><artist-credit><name-credit><artist id="a3">
     <name>久石 譲</name></artist></name-credit></artist-credit></recording></track>
   </track-list></medium></medium-list></release>
 <release id="rel-2"><title>Box</title>
  <artist-credit><name-credit><artist id="a4"><name>Various</name></artist></name-credit></artist-credit>
  <medium-list count="2">
   <medium><position>1</position><disc-list count="1"><disc id="another"/></disc-list><track-list count="1">
    <track id="x"><position>1</position><recording id="rx"><title>Wrong disc</title></recording></track></track-list></medium>
   <medium><position>2</position><disc-list count="1"><disc id="@ID@" /></disc-list><track-list count="1">
    <track id="y"><position>1</position><recording id="ry"><title>Right disc</title></recording></track></track-list></medium>
  </medium-list></release>
</release-list></disc></metadata>
)";
  for (std::size_t at; (at = xml.find("@ID@")) != std::string::npos;) xml.replace(at, 4, discId);
  return xml;
}

}  // namespace velotag::test
