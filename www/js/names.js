// Variable, field and type names are single words in camel case: a line may break only where one of
// their own words ends, never inside a word.
const WORD_END = /(?<=[a-z0-9])(?=[A-Z])|(?<=[A-Z])(?=[A-Z][a-z])|(?<=_)/;

export function nameNodes(name) {
  return name.split(WORD_END).flatMap((word, index) => (index ? [document.createElement("wbr"), word] : [word]));
}
