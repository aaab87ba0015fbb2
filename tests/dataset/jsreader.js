// Decodes the REST answer in the file argv[2] with share/js/tamrixdataset.js and prints the
// data sets as JSON ({"erro": message} when the reader rejects the answer).
"use strict";
const fs = require("fs");
const path = require("path");
const leitor = require(path.join(__dirname, "..", "..", "share", "js", "tamrixdataset.js"));

leitor.lerResposta(fs.readFileSync(process.argv[2], "utf8")).then(
  (dataSets) => process.stdout.write(JSON.stringify(dataSets)),
  (e) => process.stdout.write(JSON.stringify({ erro: e.message })));
